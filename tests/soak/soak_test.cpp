// Many conversions in a row in one process, through the library as the window program and
// the command line use it: memory, open files and processes must come back to where they
// were, conversion after conversion.

#include "speech/converter.h"
#include "support/conversion_support.h"
#include "support/process_support.h"
#include "support/value_sweep.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

namespace fs = std::filesystem;

// Appended rather than "t" + std::to_string(i): GCC 12 at -O3 takes that for an overlapping
// copy and warns (-Wrestrict, its bug 105329).
std::string numberedName(int i) {
    std::string name = "t";
    name += std::to_string(i);
    return name;
}

class Soak : public ::testing::TestWithParam<unsigned> {};

TEST_P(Soak, TwoHundredConversionsLeaveNothingBehind) {
    constexpr int conversions = 200;
    constexpr int warmUp = 20;
    test::ScratchDir scratch;
    for (int i = 0; i < conversions; ++i)
        test::writeBytes(scratch / (numberedName(i) + ".txt"),
                         "Text number " + std::to_string(i) + ". It is short.\n\nIt ends here.");

    long residentAfterWarmUp = 0;
    std::size_t descriptorsAfterWarmUp = 0;
    for (int i = 0; i < conversions; ++i) {
        const std::string name = numberedName(i);
        speech::ConversionRequest request =
            test::conversion(scratch / (name + ".txt"), scratch / (name + ".wav"), test::fastVoice);
        request.jobs = GetParam();
        const speech::ConversionResult result = speech::convertTextFile(request);
        ASSERT_GT(result.frames, 0u) << name;
        ASSERT_EQ(test::childrenOf(::getpid()), std::vector<pid_t>{}) << "after " << name;
        fs::remove(scratch / (name + ".wav"));
        if (i + 1 == warmUp) {
            residentAfterWarmUp = test::residentKib(::getpid());
            descriptorsAfterWarmUp = test::openDescriptors();
        }
    }
    const long resident = test::residentKib(::getpid());
    RecordProperty("resident_kib_after_warm_up", std::to_string(residentAfterWarmUp));
    RecordProperty("resident_kib_at_end", std::to_string(resident));
    EXPECT_EQ(test::openDescriptors(), descriptorsAfterWarmUp);
    EXPECT_EQ(test::leftoverParts(scratch.path()), std::vector<std::string>{});
    if (test::sanitizedBuild)
        GTEST_SKIP() << "a sanitized build's resident memory is no measure (" << residentAfterWarmUp
                     << " KiB, then " << resident << " KiB)";
    // A leak of even a kilobyte a conversion would show: 180 KiB.
    EXPECT_LT(resident - residentAfterWarmUp, 128)
        << residentAfterWarmUp << " KiB, then " << resident << " KiB";
}

INSTANTIATE_TEST_SUITE_P(Jobs, Soak, test::sweep(0u, 1u), [](const auto& info) {
    return info.param == 0 ? std::string("InThisProcess") : std::string("OneWorker");
});

} // namespace
} // namespace kestrova

#include "support/conversion_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

using test::conversion;
using test::ScratchDir;

// Two renderings of the same engine as unlike as the controls make them: each engine keeps
// its rate, pitch and pauses between calls, which a later rendering must not inherit.
struct OrderedRenderings {
    ScratchDir scratch;

    OrderedRenderings() {
        test::writeBytes(scratch / "a.txt", test::longText());
        test::writeBytes(scratch / "b.txt", test::paragraphs);
    }

    std::vector<short> renderA(const char* output) {
        ConversionRequest request =
            conversion(scratch / "a.txt", scratch / output, test::fastVoice, 22);
        request.speech.jobs = 0;
        return render(request);
    }

    std::vector<short> renderB(const char* output) {
        ConversionRequest request =
            conversion(scratch / "b.txt", scratch / output, test::fastVoice, 18);
        request.speech.jobs = 0;
        request.speech.controls.ratePercent = 180;
        request.speech.controls.pitchPercent = 140;
        request.speech.controls.volumePercent = 60;
        request.speech.controls.sentencePauseMs = 700;
        request.speech.controls.paragraphPauseMs = 1200;
        return render(request);
    }

    std::vector<short> render(const ConversionRequest& request) {
        convertTextFile(request);
        const auto sound = test::readSound(request.output.path);
        return sound ? sound->samples : std::vector<short>{};
    }
};

// Render A, then B, then A again in one process: A sounds the same both times, and B the same
// as B rendered first in a process of its own (a child forked before this process rendered
// anything: CTest runs each test in a fresh process).
TEST(RenderingOrder, EarlierRenderingsInAProcessDoNotChangeLaterOnes) {
    OrderedRenderings renderings;
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        const bool rendered = !renderings.renderB("fresh-b.wav").empty();
        ::_exit(rendered ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the fresh process failed";
    const auto fresh = test::readSound(renderings.scratch / "fresh-b.wav");
    ASSERT_TRUE(fresh);

    const std::vector<short> firstA = renderings.renderA("a1.wav");
    const std::vector<short> b = renderings.renderB("b.wav");
    const std::vector<short> secondA = renderings.renderA("a2.wav");

    ASSERT_FALSE(firstA.empty());
    EXPECT_TRUE(secondA == firstA)
        << "A changed after B: " << firstA.size() << " samples, then " << secondA.size();
    EXPECT_TRUE(b == fresh->samples)
        << "B after A differs from B in a fresh process: " << fresh->samples.size()
        << " samples, then " << b.size();
    EXPECT_FALSE(b == firstA);
}

} // namespace
} // namespace kestrova::speech

// A stop signal before the conversion starts, while the real kestrova-wav-cli reads what a
// large document says of itself to choose its voice: it ends at once with its usual line,
// never by the signal's default with no word.

#include "support/process_support.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <csignal>
#include <gtest/gtest.h>

namespace kestrova {
namespace {

using namespace std::chrono_literals;

// An HTML page of 8 MiB: libxml2 builds its tree for seconds when the page's language is read.
std::string largePage() {
    std::string page = "<html lang=\"en\"><head><title>Long</title></head><body>\n";
    while (page.size() < (8u << 20))
        page += "<p>Word after word, <b>the plain text</b> of a long book goes on.</p>\n";
    return page + "</body></html>\n";
}

class StopWhileReadingMetadata : public ::testing::TestWithParam<int> {};

TEST_P(StopWhileReadingMetadata, EndsAtOnceWithItsLine) {
    const int signal = GetParam();
    const test::ScratchDir scratch;
    test::writeBytes(scratch / "large.html", largePage());
    const test::Snapshot before = test::snapshot(scratch.path());
    // No voice named: the page's language chooses it, before any worker starts.
    test::RunningProgram cli(KESTROVA_CLI_PATH, {"convert", "-q", "-o", "large.wav", "large.html"},
                             scratch.path());
    ASSERT_TRUE(cli.waitFor([&] { return test::cpuTicks(cli.pid()) >= 15; })); // into the reading
    ASSERT_TRUE(test::childrenOf(cli.pid()).empty()) << "the rendering had begun";
    ::kill(cli.pid(), signal);
    const auto signalled = std::chrono::steady_clock::now();
    const test::Outcome outcome = cli.wait(30s);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 1000ms);
    ASSERT_TRUE(outcome.exited()) << "ended by signal " << WTERMSIG(outcome.status);
    EXPECT_EQ(outcome.exitStatus(), 128 + signal);
    const std::string& err = outcome.standardError;
    EXPECT_EQ(test::lineCount(err), 1u) << err;
    EXPECT_TRUE(err.starts_with("kestrova-wav-cli: ")) << err;
    EXPECT_NE(err.find("\"large.wav\""), std::string::npos) << err;
    EXPECT_NE(err.find("the conversion was cancelled"), std::string::npos) << err;
    EXPECT_EQ(test::snapshot(scratch.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopWhileReadingMetadata,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

} // namespace
} // namespace kestrova

// The real window program started where no display can be opened: one line saying so,
// status 1, the text file as it was (rather than Qt's abort, status 134).

#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace kestrova {
namespace {

namespace fs = std::filesystem;

// A display number with no X server behind it.
std::string unusedDisplay() {
    for (int number = 4242;; ++number)
        if (!fs::exists("/tmp/.X11-unix/X" + std::to_string(number)) &&
            !fs::exists("/tmp/.X" + std::to_string(number) + "-lock"))
            return ":" + std::to_string(number);
}

struct NoDisplayCase {
    std::string name;
    std::optional<std::string> display; // none: DISPLAY unset
    std::string reason;
};

void PrintTo(const NoDisplayCase& entry, std::ostream* out) {
    *out << entry.name;
}

class NoDisplay : public ::testing::TestWithParam<NoDisplayCase> {};

TEST_P(NoDisplay, SaysSoInOneLineAndTouchesNothing) {
    test::ScratchDir scratch;
    const fs::path text = scratch / "t.txt";
    test::writeBytes(text, "Hello.");
    const std::string handOff = "Flite slt % " + text.string();
    test::ProgramSetup setup;
    setup.environment = {{"QT_QPA_PLATFORM", std::nullopt},
                         {"WAYLAND_DISPLAY", std::nullopt},
                         {"DISPLAY", GetParam().display}};
    const test::Outcome outcome =
        test::runProgram(KESTROVA_GUI_PATH, {handOff}, scratch.path(), setup);
    ASSERT_TRUE(outcome.exited()) << "ended by signal " << WTERMSIG(outcome.status);
    EXPECT_EQ(outcome.exitStatus(), 1);
    EXPECT_EQ(outcome.standardError,
              "kestrova-wav: no display could be opened: " + GetParam().reason + "\n");
    EXPECT_EQ(test::readBytes(text), "Hello.");
    EXPECT_EQ(scratch.names(), std::vector<std::string>{"t.txt"});
}

INSTANTIATE_TEST_SUITE_P(Displays, NoDisplay,
                         test::sweep(NoDisplayCase{"Unreachable", unusedDisplay(),
                                                   "DISPLAY \"" + unusedDisplay() +
                                                       "\" cannot be reached"},
                                     NoDisplayCase{"Unset", std::nullopt, "DISPLAY is not set"}),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace kestrova

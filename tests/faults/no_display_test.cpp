// The real window program started where no display can be opened: one line saying so,
// status 1, the text file as it was (rather than Qt's abort, status 134).

#include "support/test_support.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

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
    const fs::path err = scratch / "err";
    const std::string handOff = "Flite slt % " + text.string();
    const pid_t child = ::fork();
    if (child == 0) {
        ::unsetenv("QT_QPA_PLATFORM");
        ::unsetenv("WAYLAND_DISPLAY");
        if (GetParam().display)
            ::setenv("DISPLAY", GetParam().display->c_str(), 1);
        else
            ::unsetenv("DISPLAY");
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (errFd < 0 || ::dup2(errFd, 2) < 0)
            ::_exit(127);
        ::execl(KESTROVA_GUI_PATH, KESTROVA_GUI_PATH, handOff.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(test::readBytes(err),
              "kestrova-wav: no display could be opened: " + GetParam().reason + "\n");
    EXPECT_EQ(test::readBytes(text), "Hello.");
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"err", "t.txt"}));
}

INSTANTIATE_TEST_SUITE_P(
    Displays, NoDisplay,
    ::testing::Values(NoDisplayCase{"Unreachable", unusedDisplay(),
                                    "DISPLAY \"" + unusedDisplay() + "\" cannot be reached"},
                      NoDisplayCase{"Unset", std::nullopt, "DISPLAY is not set"}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace kestrova

// What the real kestrova-wav-cli does with what it finds at the output path: a character
// device is written into, a FIFO and standard output get a stream, a link is written
// through, a socket, a block device and a dangling link are refused, a replaced file keeps
// its mode, owner and group, a name of 255 bytes works. And that no death of the converter,
// SIGKILL included, leaves anything in the folder, with or without unnamed files.

#include "output_target_cases.h"
#include "support/process_support.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

namespace kestrova {
namespace {
constexpr uid_t otherUser = 4321;
constexpr gid_t otherGroup = 8765;

bool makeNode(const fs::path& path, mode_t type, unsigned major, unsigned minor) {
    return ::mknod(path.c_str(), type | 0620, ::makedev(major, minor)) == 0;
}

void makeSocket(const fs::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd); // the socket file stays
}

// An old file that is not the test's own: mode 0640, another owner and group.
void makeOldFile(const fs::path& path) {
    test::writeBytes(path, oldContent);
    ::chmod(path.c_str(), 0640);
    ASSERT_EQ(::chown(path.c_str(), otherUser, otherGroup), 0);
}

struct TargetCase {
    const char* name;
    std::function<void(const fs::path& folder)> make; // what is at "out" before
    std::vector<std::string> options;                 // besides -q -o out
    int status;
    const char* reason;  // in the one message line; none on success
    const char* soundIn; // the file that gets the sound; every other entry stays as it was
};

void PrintTo(const TargetCase& entry, std::ostream* out) {
    *out << entry.name;
}

class OutputTargetTest : public ::testing::TestWithParam<TargetCase> {
protected:
    void SetUp() override {
        if (!test::runningAsRoot())
            GTEST_SKIP() << "device nodes and other owners need root";
        previousMask_ = ::umask(022);
        test::writeBytes(scratch / "in.txt", "A short text to speak.");
    }
    void TearDown() override {
        if (test::runningAsRoot())
            ::umask(previousMask_);
    }

    test::ScratchDir scratch;
    mode_t previousMask_ = 0;
};

TEST_P(OutputTargetTest, EverythingButTheChosenFileStaysAsItWas) {
    const TargetCase& c = GetParam();
    c.make(scratch.path());
    if (::testing::Test::IsSkipped())
        return;
    const auto before = listing(scratch.path());
    std::vector<std::string> arguments{"convert", "-q", "-o", "out"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back("in.txt");
    RunningProgram cli(cliPath, arguments, scratch.path());
    const Outcome outcome = cli.wait(60s);

    EXPECT_EQ(outcome.exitStatus(), c.status) << outcome.standardError;
    if (c.reason) {
        EXPECT_EQ(test::lineCount(outcome.standardError), 1u) << outcome.standardError;
        EXPECT_NE(outcome.standardError.find("\"out\": "), std::string::npos);
        EXPECT_NE(outcome.standardError.find(c.reason), std::string::npos) << outcome.standardError;
    } else {
        EXPECT_EQ(outcome.standardError, "");
    }
    auto after = listing(scratch.path());
    if (c.soundIn) {
        ASSERT_EQ(after.count(c.soundIn), 1u);
        const Entry sound = after[c.soundIn];
        EXPECT_TRUE(S_ISREG(sound.mode));
        EXPECT_EQ(sound.links, 1u);
        EXPECT_TRUE(test::readSound(scratch / c.soundIn)) << c.soundIn << " holds no sound";
        if (before.count(c.soundIn)) {
            const Entry& old = before.at(c.soundIn);
            EXPECT_EQ(sound.mode, old.mode);
            EXPECT_EQ(sound.owner, old.owner);
            EXPECT_EQ(sound.group, old.group);
        } else {
            EXPECT_EQ(sound.mode, S_IFREG | 0644u); // 0666 less the umask
        }
        after.erase(c.soundIn);
    }
    auto expected = before;
    if (c.soundIn)
        expected.erase(c.soundIn);
    EXPECT_EQ(after, expected);
    EXPECT_EQ(test::survivors(), std::vector<pid_t>{});
}

INSTANTIATE_TEST_SUITE_P(
    Targets, OutputTargetTest,
    test::sweep(
        TargetCase{"NothingThere", [](const fs::path&) {}, {}, 0, nullptr, "out"},
        TargetCase{"FileOfAnotherOwner",
                   [](const fs::path& at) { makeOldFile(at / "out"); },
                   {},
                   0,
                   nullptr,
                   "out"},
        TargetCase{"LinkToAFile",
                   [](const fs::path& at) {
                       makeOldFile(at / "real.wav");
                       fs::create_symlink("real.wav", at / "out");
                   },
                   {},
                   0,
                   nullptr,
                   "real.wav"},
        TargetCase{"ChainOfLinksIntoAFolder",
                   [](const fs::path& at) {
                       fs::create_directory(at / "sub");
                       makeOldFile(at / "sub" / "real.wav");
                       fs::create_symlink("sub/real.wav", at / "middle");
                       fs::create_symlink("middle", at / "out");
                   },
                   {},
                   0,
                   nullptr,
                   nullptr},
        TargetCase{"DanglingLink",
                   [](const fs::path& at) { fs::create_symlink("nothing-here.wav", at / "out"); },
                   {},
                   1,
                   "not writing through a dangling link",
                   nullptr},
        TargetCase{"NullDevice",
                   [](const fs::path& at) {
                       if (!makeNode(at / "out", S_IFCHR, 1, 3))
                           GTEST_SKIP() << "mknod is not permitted here";
                   },
                   {},
                   0,
                   nullptr,
                   nullptr},
        TargetCase{"LinkToTheNullDevice",
                   [](const fs::path& at) {
                       if (!makeNode(at / "null", S_IFCHR, 1, 3))
                           GTEST_SKIP() << "mknod is not permitted here";
                       fs::create_symlink("null", at / "out");
                   },
                   {},
                   0,
                   nullptr,
                   nullptr},
        TargetCase{"FullDevice",
                   [](const fs::path& at) {
                       if (!makeNode(at / "out", S_IFCHR, 1, 7))
                           GTEST_SKIP() << "mknod is not permitted here";
                   },
                   {},
                   1,
                   "No space left on device",
                   nullptr},
        TargetCase{"BlockDevice",
                   [](const fs::path& at) {
                       if (!makeNode(at / "out", S_IFBLK, 7, 0))
                           GTEST_SKIP() << "mknod is not permitted here";
                   },
                   {},
                   1,
                   "it is a block device",
                   nullptr},
        TargetCase{"Socket",
                   [](const fs::path& at) { makeSocket(at / "out"); },
                   {},
                   1,
                   "it is a socket",
                   nullptr},
        TargetCase{"FifoAskedForAWave",
                   [](const fs::path& at) { ASSERT_EQ(::mkfifo((at / "out").c_str(), 0640), 0); },
                   {"--type", "wav"},
                   1,
                   "a wave file cannot be streamed into a FIFO",
                   nullptr},
        TargetCase{"NoClobberThroughALink",
                   [](const fs::path& at) {
                       makeOldFile(at / "real.wav");
                       fs::create_symlink("real.wav", at / "out");
                   },
                   {"-n"},
                   1,
                   "a file is already there",
                   nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// The chain case above checks the links; here, that the file at its end got the sound.
TEST(OutputTarget, AChainOfLinksIsFollowedToTheEnd) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "A short text to speak.");
    fs::create_directory(scratch / "sub");
    test::writeBytes(scratch / "sub" / "real.wav", oldContent);
    fs::create_symlink("sub/real.wav", scratch / "middle");
    fs::create_symlink("middle", scratch / "out.wav");
    RunningProgram cli(cliPath, {"convert", "-q", "-o", "out.wav", "in.txt"}, scratch.path());
    EXPECT_EQ(cli.wait(60s).exitStatus(), 0);
    EXPECT_TRUE(test::readSound(scratch / "sub" / "real.wav"));
    EXPECT_EQ(test::readSound(scratch / "sub" / "real.wav")->majorFormat(), SF_FORMAT_WAV);
    EXPECT_EQ(scratch.names("sub"), std::vector<std::string>{"real.wav"});
}

// A file with a second name is replaced under the chosen name only, as an editor replaces
// it: the other name keeps the old content.
TEST(OutputTarget, AHardLinkedFileIsReplacedUnderTheChosenNameOnly) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "A short text to speak.");
    test::writeBytes(scratch / "out.wav", oldContent);
    fs::create_hard_link(scratch / "out.wav", scratch / "other.wav");
    RunningProgram cli(cliPath, {"convert", "-q", "-o", "out.wav", "in.txt"}, scratch.path());
    EXPECT_EQ(cli.wait(60s).exitStatus(), 0);
    EXPECT_TRUE(test::readSound(scratch / "out.wav"));
    EXPECT_EQ(test::readBytes(scratch / "other.wav"), oldContent);
    EXPECT_EQ(fs::hard_link_count(scratch / "other.wav"), 1u);
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt", "other.wav", "out.wav"}));
}

// Names up to the file system's 255 bytes, new and replacing a file.
class LongName : public ::testing::TestWithParam<bool> {};

TEST_P(LongName, OfTwoHundredAndFiftyFiveBytesWorks) {
    test::ScratchDir scratch;
    test::writeBytes(scratch / "in.txt", "A short text to speak.");
    const std::string name = std::string(251, 'n') + ".wav";
    if (GetParam())
        test::writeBytes(scratch / name, oldContent);
    RunningProgram cli(cliPath, {"convert", "-q", "-o", name, "in.txt"}, scratch.path());
    const Outcome outcome = cli.wait(60s);
    EXPECT_EQ(outcome.exitStatus(), 0) << outcome.standardError;
    EXPECT_TRUE(test::readSound(scratch / name));
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt", name}));
}

INSTANTIATE_TEST_SUITE_P(Names, LongName, test::sweep(false, true),
                         [](const auto& info) { return info.param ? "OverAFile" : "New"; });
} // namespace
} // namespace kestrova

#pragma once

// Shared by the cli_fault tests.

#include "cli_path.h"
#include "support/process_support.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <thread>

namespace kestrova {
namespace {

using test::Outcome;
using test::ProgramSetup;
using test::RunningProgram;
using test::sentences;
using test::Snapshot;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

class CliFault : public ::testing::Test {
protected:
    fs::path at(const std::string& name) const { return scratch / name; }

    Outcome run(const std::vector<std::string>& arguments, ProgramSetup setup = {}) {
        RunningProgram cli(cliPath, arguments, scratch.path(), setup);
        return cli.wait();
    }

    // $TMPDIR on a file system of 128 KiB of its own, the folder "small" of the scratch
    // folder; nothing when mounting needs a root this is not (a failed mount fails the test).
    std::optional<ProgramSetup> temporaryOnASmallDisk() {
        if (!test::privateMountTable())
            return std::nullopt;
        fs::create_directory(at("small"));
        mount.emplace(at("small"), 128 << 10);
        if (!mount->mounted()) {
            ADD_FAILURE() << "cannot mount a file system on " << at("small");
            return std::nullopt;
        }
        ProgramSetup setup;
        setup.environment = {{"TMPDIR", at("small").string()}};
        return setup;
    }

    // The converter failed as it should: the status, one line naming the file, the folder
    // exactly as it was before (but for the chunks kept for the next run), and no process of
    // the converter left.
    void expectCleanFailure(const Outcome& outcome, int status, const std::string& named,
                            const std::string& reason, const Snapshot& before) {
        EXPECT_FALSE(outcome.timedOut);
        EXPECT_TRUE(outcome.exited()) << "ended by signal " << WTERMSIG(outcome.status);
        EXPECT_EQ(outcome.exitStatus(), status);
        const std::string& err = outcome.standardError;
        EXPECT_TRUE(err.starts_with("kestrova-wav-cli: ")) << err;
        EXPECT_EQ(test::lineCount(err), 1u) << err;
        EXPECT_NE(err.find("\"" + named + "\""), std::string::npos) << err;
        EXPECT_NE(err.find(reason), std::string::npos) << err;
        EXPECT_EQ(test::withoutResumeFolders(test::snapshot(scratch.path())), before);
        EXPECT_EQ(test::survivors(), std::vector<pid_t>{});
    }

    test::ScratchDir scratch;
    std::optional<test::TmpfsMount> mount; // after scratch: unmounted before it goes
};

} // namespace
} // namespace kestrova

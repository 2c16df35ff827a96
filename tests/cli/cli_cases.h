#pragma once

// Shared by the cli tests.

#include "speech/audio_format.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ProgramSetup;
using test::ScratchDir;
namespace fs = std::filesystem;

constexpr std::string_view text = "Hello world. This is a short test.\n";

class CommandLine : public ::testing::Test {
protected:
    CommandLine() { test::writeBytes(scratch / "in.txt", text); }

    Outcome run(const std::vector<std::string>& arguments, const ProgramSetup& setup = {}) {
        return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path(), setup);
    }
    int rateOf(const std::string& name) {
        const auto sound = test::readSound(scratch / name);
        return sound ? sound->info.samplerate : 0;
    }
    void expectInputIntact() { EXPECT_EQ(test::readBytes(scratch / "in.txt"), text); }

    ScratchDir scratch;
};

} // namespace
} // namespace kestrova::cli

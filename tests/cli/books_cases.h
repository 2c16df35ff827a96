#pragma once

// Shared by the books tests.

#include "support/running_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sstream>

namespace kestrova::cli {
namespace {

using test::Outcome;
using test::ScratchDir;
namespace fs = std::filesystem;

constexpr const char* english = "eSpeak NG English (America)";

inline Outcome convert(const ScratchDir& scratch, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "convert");
    return test::runProgram(KESTROVA_CLI_PATH, arguments, scratch.path());
}

struct Sentence {
    unsigned chapter = 0;
    std::string source;
    long start = -1, end = -1, first = 0, last = 0;
    std::string text;
};

struct Chapter {
    unsigned number = 0;
    long heading = 0;
    std::string title;
};

// A timings file read back by Python's JSON parser: its sentences and chapters.
inline std::pair<std::vector<Sentence>, std::vector<Chapter>> timingsOf(const fs::path& json) {
    const Outcome read = test::runProgram(
        "/usr/bin/python3",
        {"-c",
         "import json, sys\n"
         "t = json.load(open(sys.argv[1], encoding='utf-8'))\n"
         "for s in t['sentences']:\n"
         "  print('S', s['chapter'], s.get('source') or '-', -1 if s['start_byte'] is None else "
         "s['start_byte'], -1 if s['end_byte'] is None else s['end_byte'], s['first_sample'], "
         "s['last_sample'], s['text'])\n"
         "for c in t['chapters']:\n"
         "  print('C', c['number'], c['heading_sample'], c['title'])",
         json.string()},
        json.parent_path());
    EXPECT_EQ(read.exitStatus(), 0) << read.standardError;
    std::pair<std::vector<Sentence>, std::vector<Chapter>> timings;
    std::istringstream lines(read.standardOutput);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line.substr(2));
        if (line[0] == 'S') {
            Sentence& s = timings.first.emplace_back();
            fields >> s.chapter >> s.source >> s.start >> s.end >> s.first >> s.last;
            std::getline(fields >> std::ws, s.text);
        } else {
            Chapter& c = timings.second.emplace_back();
            fields >> c.number >> c.heading;
            std::getline(fields >> std::ws, c.title);
        }
    }
    return timings;
}

} // namespace
} // namespace kestrova::cli

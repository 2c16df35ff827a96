#pragma once

// Shared by the timing_files tests.

#include "speech/conversion/side_files/subtitle_cues.h"
#include "speech/speech_error.h"
#include "speech/timing_files.h"
#include "support/running_program.h"
#include "support/test_support.h"
#include "support/webvtt_checker.h"

#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <sstream>
#include <sys/stat.h>

namespace kestrova::speech {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;

// Thirty words of six letters: 209 characters, three cues' worth.
inline std::string thirtyWords() {
    std::string text;
    for (int i = 1; i <= 30; ++i)
        text += (i > 1 ? " word" : "word") + std::string(i < 10 ? "0" : "") + std::to_string(i);
    return text;
}

inline SentenceTiming sentence(std::string text, std::uint64_t first, std::uint64_t last,
                               unsigned chapter = 1) {
    SentenceTiming timing;
    timing.text = std::move(text);
    timing.firstFrame = first;
    timing.lastFrame = last;
    timing.chapter = chapter;
    return timing;
}

// A small book: an opening, two chapters, a sentence from markup (no bytes), marks.
inline SpeechTimings bookTimings(int rate) {
    const auto at = [rate](double seconds) {
        return static_cast<std::uint64_t>(seconds * rate);
    };
    SpeechTimings timings;
    timings.sampleRate = rate;
    timings.frames = at(36001.0) + 1;
    timings.sentences = {{"A \"Tale\" of\ttwo \\ cities.", 0, 27, 1, 0, at(0.1), at(1.5), {}, {}},
                         {"Chapter 1: The Period", 29, 50, 2, 1, at(2.0), at(3.0) + 7, {}, {}},
                         {thirtyWords(), 52, 261, 3, 1, at(3.5), at(12.0), {}, {}},
                         {"Chapter \"2\"", 263, 274, 4, 2, at(13.0), at(14.0), {}, {}},
                         {"Ünïcödé 日本語 — & <done>",
                          std::nullopt,
                          std::nullopt,
                          5,
                          2,
                          at(36000.0) + 1,
                          at(36001.0),
                          {},
                          {}}};
    timings.chapters = {{0, "", 0, at(0.1), at(1.8)},
                        {1, "Chapter 1: The Period", at(1.8), at(2.0), at(12.5)},
                        {2, "Chapter \"2\"", at(12.5), at(13.0), timings.frames}};
    timings.marks = {{"start", at(0.1)}, {"q\"uote", at(36000.0) + 3}};
    return timings;
}

} // namespace
} // namespace kestrova::speech

#pragma once

// Shared by the ssml_reader tests.

#include "speech/speech_error.h"
#include "speech/text/readers/ssml/ssml_reader.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace kestrova::speech {
namespace {

using namespace std::string_literals;

const std::string source = "doc.ssml";

inline std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

// A script in one line: runs as their text (@voice, {rate,pitch,volume} where not the
// default), <S> <P> <NNNms> for breaks, #name for marks.
inline std::string describe(const SpeechScript& script) {
    std::string line;
    for (const SpeechItem& item : script) {
        if (!line.empty())
            line += " | ";
        if (const auto* run = std::get_if<SpeechRun>(&item)) {
            line += run->text;
            if (!run->voiceName.empty())
                line += "@" + run->voiceName;
            if (run->prosody != Prosody{})
                line += "{" + number(run->prosody.rate) + "," + number(run->prosody.pitch) + "," +
                        number(run->prosody.volume) + "}";
        } else if (const auto* pause = std::get_if<SpeechBreak>(&item)) {
            line += pause->kind == SpeechBreak::Kind::Sentence ? "<S>"
                    : pause->kind == SpeechBreak::Kind::Paragraph
                        ? "<P>"
                        : "<" + std::to_string(pause->milliseconds) + "ms>";
        } else {
            line += "#" + std::get<SpeechMark>(item).name;
        }
    }
    return line;
}

struct ProsodyCase {
    std::string name;
    std::string body; // holds one run
    Prosody prosody;
};

inline void PrintTo(const ProsodyCase& entry, std::ostream* out) {
    *out << entry.name;
}

inline ProsodyCase rate(std::string name, std::string value, double expected) {
    return {name, "<prosody rate=\"" + value + "\">x</prosody>", {expected, 1, 1}};
}
inline ProsodyCase pitch(std::string name, std::string value, double expected) {
    return {name, "<prosody pitch=\"" + value + "\">x</prosody>", {1, expected, 1}};
}
inline ProsodyCase volume(std::string name, std::string value, double expected) {
    return {name, "<prosody volume=\"" + value + "\">x</prosody>", {1, 1, expected}};
}

} // namespace
} // namespace kestrova::speech

#pragma once

// Shared by the tests that render with the real engines.

#include "speech/converter.h"
#include "speech/voice.h"
#include "support/test_support.h"

#include <string>
#include <string_view>

namespace kestrova::test {

// One sentence: quick to render, long enough to be heard.
inline constexpr std::string_view shortText = "Hello world. This is a short test.";

// Four paragraphs, each its own chunk.
inline constexpr std::string_view paragraphs =
    "First paragraph.\n\nSecond paragraph.\n\nThird paragraph.\n\nFourth paragraph.\n";

// Sixty sentences, some 2700 bytes: more than two chunks whatever the paragraph rules.
// eSpeak NG renders it in a fraction of a second.
inline const std::string& longText() {
    static const std::string text = [] {
        std::string built;
        for (int i = 0; i < 60; ++i)
            built += (i ? " This is sentence number " : "This is sentence number ") +
                     std::to_string(i) + " of a longer text.";
        return built;
    }();
    return text;
}

inline constexpr std::string_view fastVoice = "eSpeak NG English (America)";

inline const speech::VoiceRegistry& installedVoices() {
    static const speech::VoiceRegistry registry;
    return registry;
}

// A request to render input into output with the named voice and format code.
inline speech::ConversionRequest conversion(const fs::path& input, const fs::path& output,
                                            std::string_view voice = "Flite slt",
                                            int formatCode = 22) {
    speech::ConversionRequest request;
    request.input.path = input;
    request.output.path = output;
    request.speech.voice = installedVoices().find(voice);
    request.output.format = speech::AudioFormat::fromFormatCode(formatCode);
    request.output.syncToDisk = false; // the tests need no durability, only speed
    return request;
}

// What a failed conversion must leave as it found it.
inline constexpr std::string_view olderContent = "an older file that must survive";

// A text in a scratch folder, to be converted into out.wav beside it, over an older file or
// not; the folder as it was before, for the check that a failure leaves it so.
struct ConversionScene {
    ConversionScene(std::string_view text, bool existingTarget) {
        writeBytes(input, text);
        if (existingTarget)
            writeBytes(output, olderContent);
        before = snapshot(scratch.path());
    }

    bool unchanged() const { return snapshot(scratch.path()) == before; }

    ScratchDir scratch;
    fs::path input = scratch / "in.txt";
    fs::path output = scratch / "out.wav";
    Snapshot before;
};

} // namespace kestrova::test

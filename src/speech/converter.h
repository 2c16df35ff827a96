#pragma once

#include "speech/audio_format.h"
#include "speech/text_encoding.h"
#include "speech/voice.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace kestrova::speech {

// One worker per core.
unsigned defaultJobs();

struct ConversionRequest {
    std::filesystem::path input;
    std::filesystem::path output;
    Voice voice;
    AudioFormat format;
    // None: chosen by the output file's ending.
    std::optional<Container> container;
    TextEncoding encoding = TextEncoding::Automatic;
    std::uint64_t firstCharacter = 0;            // characters skipped before rendering
    std::optional<std::uint64_t> characterCount; // characters rendered; none: to the end
    bool replaceExisting = true;
    bool syncToDisk = true;
    // Worker processes rendering side by side; 0 renders in this process.
    unsigned jobs = defaultJobs();
};

struct ConversionResult {
    std::uint64_t frames = 0;
    double seconds = 0;
};

// Called with the fraction of the text rendered so far, 0 to 1, on the converting thread.
using ProgressCallback = std::function<void(double)>;

// Renders a text file into a sound file. The output appears at its path only when it is
// complete; on any failure, cancellation included, nothing is left behind and a file that
// was already there is untouched. Failures are thrown as SpeechError, whose message names
// the file and the reason; a set cancel flag, checked between chunks, as
// ConversionCancelled.
ConversionResult convertTextFile(const ConversionRequest& request,
                                 const ProgressCallback& progress = {},
                                 const std::atomic<bool>* cancel = nullptr);

} // namespace kestrova::speech

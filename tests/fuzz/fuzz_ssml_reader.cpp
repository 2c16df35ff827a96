// The SSML reader, on any bytes: it fails only with a one-line message naming the document, and
// what it reads is a clean script. The first input byte chooses whether the rest stands alone or
// inside <speak>, to reach the elements more often than the parser's errors.

#include "fuzz_check.h"
#include "speech/speech_error.h"
#include "speech/text/readers/ssml/ssml_reader.h"

#include <cmath>
#include <cstdint>
#include <string>

namespace {

using namespace kestrova::speech;

const std::string source = "fuzz.ssml";

// A message names the document and stays on one line, whatever the document holds.
bool startsWithSource(const std::string& message) {
    return message.rfind(source + ":", 0) == 0 &&
           message.find_first_of("\n\r\x1B") == std::string::npos;
}

bool isBoundary(const SpeechItem& item) {
    const auto* pause = std::get_if<SpeechBreak>(&item);
    return pause != nullptr && pause->kind != SpeechBreak::Kind::Explicit;
}

// What the nearest item that is not a mark, before or after index, is: run, break or none.
std::string nearestNonMark(const SpeechScript& script, std::size_t index, int step) {
    for (auto at = static_cast<std::ptrdiff_t>(index) + step;
         at >= 0 && at < static_cast<std::ptrdiff_t>(script.size()); at += step) {
        const SpeechItem& item = script[static_cast<std::size_t>(at)];
        if (std::holds_alternative<SpeechRun>(item))
            return "run";
        if (std::holds_alternative<SpeechBreak>(item))
            return "break";
    }
    return "none";
}

void checkRun(const SpeechRun& run) {
    FUZZ_CHECK(!run.text.empty());
    FUZZ_CHECK(run.text.front() != ' ' && run.text.back() != ' ');
    FUZZ_CHECK(run.text.find("  ") == std::string::npos);
    FUZZ_CHECK(run.text.find_first_of("\t\n\r") == std::string::npos);
    const Prosody& prosody = run.prosody;
    FUZZ_CHECK(prosody.rate >= 0.25 && prosody.rate <= 4.0);
    FUZZ_CHECK(prosody.pitch >= 0.5 && prosody.pitch <= 2.0);
    FUZZ_CHECK(prosody.volume >= 0.0 && prosody.volume <= 4.0);
}

void checkScript(const SpeechScript& script) {
    std::int64_t silence = 0; // the breaks' total, in 64 bits
    for (std::size_t i = 0; i < script.size(); ++i) {
        const SpeechItem& item = script[i];
        if (const auto* run = std::get_if<SpeechRun>(&item)) {
            checkRun(*run);
            // Adjacent text of one voicing is one run.
            if (i > 0)
                if (const auto* before = std::get_if<SpeechRun>(&script[i - 1]))
                    FUZZ_CHECK(before->voiceName != run->voiceName ||
                               before->prosody != run->prosody ||
                               before->language != run->language);
        } else if (const auto* pause = std::get_if<SpeechBreak>(&item)) {
            FUZZ_CHECK(pause->milliseconds >= 0 && pause->milliseconds <= 3600 * 1000);
            silence += pause->kind == SpeechBreak::Kind::Explicit ? pause->milliseconds : 0;
            // Only a pause stands at an end it replaces.
            FUZZ_CHECK(pause->kind == SpeechBreak::Kind::Explicit || !pause->ends);
            // A sentence or paragraph end stands between runs, with no other break beside it.
            if (isBoundary(item)) {
                FUZZ_CHECK(nearestNonMark(script, i, -1) == "run");
                FUZZ_CHECK(nearestNonMark(script, i, +1) == "run");
            }
        } else {
            FUZZ_CHECK(!std::get<SpeechMark>(item).name.empty());
        }
    }
    FUZZ_CHECK(silence <= ssmlMaxSilenceMilliseconds);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrova::fuzz::InputBytes input(data, size);
    const bool wrapped = (input.take() & 1) != 0;
    const std::string document =
        wrapped ? "<speak>" + std::string(input.rest()) + "</speak>" : std::string(input.rest());
    try {
        const SpeechScript script = readSsml(document, source, [](const std::string& message) {
            FUZZ_CHECK(startsWithSource(message));
        });
        checkScript(script);
    } catch (const SpeechError& error) {
        FUZZ_CHECK(startsWithSource(error.what()));
    }
    return 0;
}

#pragma once

#include "speech/converter.h"
#include "speech/text/script/speech_script.h"

#include <cstdint>
#include <map>
#include <string>

namespace kestrova::speech {

class ChunkSequence;
class Lexicon;
class TextFileReader;

// A markup document, read whole before anything is rendered or opened: its script with the
// lexicon applied to every run, and the voice each name in it selects.
struct Markup {
    SpeechScript script;
    std::map<std::string, Voice> voices;
    std::uint64_t characters = 0;
};

Markup readMarkup(TextFileReader& reader, const ConversionRequest& request, const Lexicon& lexicon);

// The runs of markup, each cut into chunks of its own, with its breaks and marks.
// With timings, every sentence is a chunk of its own and is recorded, without a place in the
// file (markup's text has none).
void sequenceMarkup(const Markup& markup, const ConversionRequest& request, ChunkSequence& sequence,
                    SpeechTimings* timings);

} // namespace kestrova::speech

#pragma once

#include "speech/converter.h"
#include "speech/engines/command/private_folder.h"

#include <filesystem>

namespace kestrova::speech::read_along {

// An EPUB 3 book made of what was read aloud from an input that is not an EPUB (plain text,
// Markdown, HTML, Word, OpenDocument, PDF, SSML): one content document per chapter, its
// heading a heading and its paragraphs paragraphs, each sentence's text as it was read; the
// title, author and language from the request (its tags, else the input's name; the voice's
// language). The book then narrated as any EPUB 3 input is.
struct MadeBook {
    std::filesystem::path file; // in the private folder
    // The narration's timings with each sentence's place in the made book.
    SpeechTimings timings;
};

MadeBook makeBook(const ConversionRequest& request, const SpeechTimings& timings,
                  PrivateFolder& folder);

} // namespace kestrova::speech::read_along

#pragma once

// Shared by the text_chunker tests.

#include "speech/text/readers/plain/text_decoder.h"
#include "speech/text/script/text_chunker.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace {

using test::isValidUtf8;
using test::utf8Characters;
using test::withoutSpaces;

struct Settings {
    std::size_t target = TextChunker::defaultTargetBytes;
    std::size_t limit = TextChunker::defaultLimitBytes;
};

inline void PrintTo(const Settings& settings, std::ostream* out) {
    *out << "target " << settings.target << ", limit " << settings.limit;
}

// Feeds the text in pieces (0: whole), draining ready chunks after every piece.
inline std::vector<TextChunk> chunksOf(std::string_view text, std::size_t piece = 0,
                                       Settings settings = {}, const std::string& language = {}) {
    TextChunker chunker(settings.target, settings.limit, language);
    std::vector<TextChunk> chunks;
    const auto drain = [&] {
        while (auto chunk = chunker.next())
            chunks.push_back(std::move(*chunk));
    };
    if (piece == 0)
        piece = std::max<std::size_t>(1, text.size());
    for (std::size_t at = 0; at < text.size(); at += piece) {
        chunker.push(text.substr(at, piece));
        drain();
    }
    chunker.finish();
    drain();
    return chunks;
}

inline std::vector<std::string> textsOf(const std::vector<TextChunk>& chunks) {
    std::vector<std::string> texts;
    for (const TextChunk& chunk : chunks)
        texts.push_back(chunk.text);
    return texts;
}

const std::string eAcute = "\xC3\xA9";

inline std::string repeat(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

} // namespace
} // namespace kestrova::speech

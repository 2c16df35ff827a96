// The chunker, on any text fed in any pieces. The first two input bytes choose the target
// and the limit (small, to reach the limit often), the next two seed the piece sizes; the
// rest is the text, taken both as it is and as the decoder cleans it.

#include "fuzz_check.h"
#include "speech/text/readers/plain/text_decoder.h"
#include "speech/text/script/text_chunker.h"
#include "support/test_support.h"

#include <string>
#include <vector>

namespace {

using kestrova::speech::TextChunk;
using kestrova::speech::TextChunker;

// The text without its white space: spaces, line ends and no-break spaces, which a sentence
// that ends before them leaves out ("end.\u00A0 Next": the next sentence begins after them).
std::string withoutSpaces(std::string_view text) {
    std::string kept = kestrova::test::withoutSpaces(text);
    for (std::size_t at = kept.find("\xC2\xA0"); at != std::string::npos;
         at = kept.find("\xC2\xA0", at))
        kept.erase(at, 2);
    return kept;
}

bool isSpace(char c) {
    return c == ' ' || c == '\n';
}

// Feeds text in pieces of the given sizes (0: all at once) and takes the chunks out as the
// converter does: after every piece, and after the end.
std::vector<TextChunk> chunksOf(std::string_view text, std::size_t target, std::size_t limit,
                                std::uint32_t seed) {
    TextChunker chunker(target, limit);
    std::vector<TextChunk> chunks;
    const auto drain = [&] {
        while (auto chunk = chunker.next())
            chunks.push_back(std::move(*chunk));
    };
    kestrova::fuzz::PieceSizes sizes(seed, 2 * limit);
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t piece =
            seed == 0 ? text.size() : std::min(sizes.next(), text.size() - at);
        chunker.push(text.substr(at, piece));
        drain();
        at += piece;
    }
    chunker.finish();
    drain();
    return chunks;
}

void checkChunks(std::string_view text, std::size_t target, std::size_t limit, std::uint32_t seed) {
    const std::vector<TextChunk> chunks = chunksOf(text, target, limit, 0);
    const std::size_t effectiveLimit = std::max(limit, std::max<std::size_t>(target, 8));
    const bool validText = kestrova::test::isValidUtf8(text);
    std::uint64_t lastEnd = 0;
    std::string joined;
    for (const TextChunk& chunk : chunks) {
        FUZZ_CHECK(!chunk.text.empty());
        FUZZ_CHECK(chunk.text.size() <= effectiveLimit);
        FUZZ_CHECK(!isSpace(chunk.text.front()) && !isSpace(chunk.text.back()));
        FUZZ_CHECK(!validText || kestrova::test::isValidUtf8(chunk.text));
        // Monotonic; rising with every chunk of valid text (a chunk of bytes that are all
        // continuation bytes holds no character).
        FUZZ_CHECK(chunk.endCharacter >= lastEnd);
        FUZZ_CHECK(!validText || chunk.endCharacter > lastEnd);
        lastEnd = chunk.endCharacter;
        joined.append(chunk.text);
        // Its bytes in the text: the same characters, only the white space single.
        FUZZ_CHECK(chunk.startByte < chunk.endByte && chunk.endByte <= text.size());
        FUZZ_CHECK(withoutSpaces(text.substr(chunk.startByte, chunk.endByte - chunk.startByte)) ==
                   withoutSpaces(chunk.text));
    }
    FUZZ_CHECK(lastEnd <= kestrova::test::utf8Characters(text));
    // Nothing lost, nothing doubled: only white space changes.
    FUZZ_CHECK(withoutSpaces(joined) == withoutSpaces(text));

    // The cuts depend on the text alone, never on the pieces it came in.
    const std::vector<TextChunk> inPieces = chunksOf(text, target, limit, seed | 1);
    FUZZ_CHECK(inPieces.size() == chunks.size());
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        FUZZ_CHECK(inPieces[i].text == chunks[i].text);
        FUZZ_CHECK(inPieces[i].endCharacter == chunks[i].endCharacter);
        FUZZ_CHECK(inPieces[i].startByte == chunks[i].startByte);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrova::fuzz::InputBytes input(data, size);
    const std::size_t target = 1 + input.take() % 64;
    const std::size_t limit = 1 + input.take() % 128;
    const std::uint32_t seed = input.take() | (std::uint32_t{input.take()} << 8);
    const std::string_view text = input.rest();
    checkChunks(text, target, limit, seed);
    checkChunks(kestrova::speech::decodeText(text), target, limit, seed);
    return 0;
}

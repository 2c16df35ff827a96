// The text decoder, whole and fed in pieces. The first input byte chooses the encoding, the
// next two seed the piece sizes; the rest are the text's bytes.

#include "fuzz_check.h"
#include "speech/text/readers/plain/text_decoder.h"
#include "support/test_support.h"

#include <string>

namespace {

using kestrova::speech::TextDecoder;
using kestrova::speech::TextEncoding;
using kestrova::test::isCleanText;

constexpr TextEncoding encodings[] = {TextEncoding::Automatic,   TextEncoding::Utf8,
                                      TextEncoding::Windows1252, TextEncoding::Utf16LE,
                                      TextEncoding::Utf16BE,     TextEncoding::Utf32LE,
                                      TextEncoding::Utf32BE};

bool hasControlCharacters(std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\n') || u == 0x7F || u == 0xC2)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrova::speech;
    kestrova::fuzz::InputBytes input(data, size);
    const TextEncoding asked = encodings[input.take() % std::size(encodings)];
    const std::uint32_t seed = input.take() | (std::uint32_t{input.take()} << 8);
    const std::string_view bytes = input.rest();

    const std::string whole = decodeText(bytes, asked);
    FUZZ_CHECK(isCleanText(whole));

    // The same bytes in pieces through one decoder give the same text, and the same verdict.
    const TextEncoding encoding = asked == TextEncoding::Automatic ? detectEncoding(bytes) : asked;
    std::string_view body = bytes;
    if (encodingFromStart(body) == encoding)
        body.remove_prefix(byteOrderMarkLength(body));
    TextDecoder once(encoding);
    std::string onceText;
    once.decode(body, true, onceText);
    FUZZ_CHECK(onceText == whole);

    TextDecoder pieces(encoding);
    std::string piecesText;
    kestrova::fuzz::PieceSizes sizes(seed, 64);
    for (std::size_t at = 0; at < body.size();) {
        const std::size_t piece = std::min(sizes.next(), body.size() - at);
        pieces.decode(body.substr(at, piece), false, piecesText);
        at += piece;
    }
    pieces.decode({}, true, piecesText);
    FUZZ_CHECK(piecesText == whole);
    FUZZ_CHECK(pieces.clean() == once.clean());

    // Valid UTF-8 without control characters comes through untouched, and clean.
    if (encoding == TextEncoding::Utf8 && kestrova::test::isValidUtf8(body) &&
        !hasControlCharacters(body)) {
        FUZZ_CHECK(once.clean());
        FUZZ_CHECK(whole == body);
    }
    // Without a byte order mark, automatic detection settles on UTF-8 only for valid UTF-8.
    if (asked == TextEncoding::Automatic && encodingFromStart(bytes) == TextEncoding::Automatic &&
        encoding == TextEncoding::Utf8)
        FUZZ_CHECK(once.clean());
    return 0;
}

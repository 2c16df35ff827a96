#include "text_decoder.h"

#include "speech/base/utf8.h"

#include <algorithm>

namespace kestrova::speech {
namespace {

// The first byte that no UTF-8 text up to U+10FFFF can hold: F5 to FF, or F4 followed by
// 90 or more.
std::size_t firstBeyondUnicode(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0xF5 ||
            (c == 0xF4 && i + 1 < bytes.size() && static_cast<unsigned char>(bytes[i + 1]) >= 0x90))
            return i;
    }
    return std::string_view::npos;
}

std::size_t codeUnitSize(TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
        return 2;
    case TextEncoding::Utf32LE:
    case TextEncoding::Utf32BE:
        return 4;
    default:
        return 1;
    }
}

// The marks, longest first: UTF-32LE's begins with UTF-16LE's.
struct ByteOrderMark {
    std::string_view bytes;
    TextEncoding encoding;
};
constexpr ByteOrderMark byteOrderMarks[] = {
    {{"\xFF\xFE\0\0", 4}, TextEncoding::Utf32LE}, {{"\0\0\xFE\xFF", 4}, TextEncoding::Utf32BE},
    {"\xEF\xBB\xBF", TextEncoding::Utf8},         {"\xFF\xFE", TextEncoding::Utf16LE},
    {"\xFE\xFF", TextEncoding::Utf16BE},
};

const ByteOrderMark* markAtStart(std::string_view firstBytes) {
    for (const ByteOrderMark& mark : byteOrderMarks)
        if (firstBytes.starts_with(mark.bytes))
            return &mark;
    return nullptr;
}

} // namespace

const EncodingNames& namesOf(TextEncoding encoding) {
    // In the order of TextEncoding. UTF-8 to UTF-8 through iconv validates: overlong forms and
    // surrogates are refused.
    static constexpr EncodingNames names[] = {
        {.shown = "automatic", .iconv = "UTF-8", .parser = nullptr},
        {.shown = "UTF-8", .iconv = "UTF-8", .parser = "UTF-8"},
        {.shown = "Windows-1252", .iconv = "WINDOWS-1252", .parser = "windows-1252"},
        {.shown = "UTF-16LE", .iconv = "UTF-16LE", .parser = "UTF-16LE"},
        {.shown = "UTF-16BE", .iconv = "UTF-16BE", .parser = "UTF-16BE"},
        {.shown = "UTF-32LE", .iconv = "UTF-32LE", .parser = "UTF-32LE"},
        {.shown = "UTF-32BE", .iconv = "UTF-32BE", .parser = "UTF-32BE"},
    };
    return names[static_cast<std::size_t>(encoding)];
}

const char* encodingName(TextEncoding encoding) {
    return namesOf(encoding).shown;
}

std::size_t byteOrderMarkLength(std::string_view firstBytes) {
    const ByteOrderMark* mark = markAtStart(firstBytes);
    return mark ? mark->bytes.size() : 0;
}

TextEncoding encodingFromStart(std::string_view firstBytes) {
    if (const ByteOrderMark* mark = markAtStart(firstBytes))
        return mark->encoding;
    // UTF-16 without a mark: text in a Latin script has a zero in most of its high bytes,
    // while a real text file has next to no zero bytes at all.
    const std::size_t units = std::min<std::size_t>(firstBytes.size(), 4096) / 2;
    if (units >= 2) {
        std::size_t zeroHigh = 0;
        std::size_t zeroLow = 0;
        for (std::size_t i = 0; i < units; ++i) {
            zeroLow += firstBytes[2 * i] == '\0';
            zeroHigh += firstBytes[2 * i + 1] == '\0';
        }
        if (zeroHigh * 2 > units && zeroLow * 8 < units)
            return TextEncoding::Utf16LE;
        if (zeroLow * 2 > units && zeroHigh * 8 < units)
            return TextEncoding::Utf16BE;
    }
    return TextEncoding::Automatic;
}

TextDecoder::TextDecoder(TextEncoding encoding)
    : encoding_(encoding == TextEncoding::Automatic ? TextEncoding::Utf8 : encoding),
      converter_("UTF-8", namesOf(encoding_).iconv) {}

void TextDecoder::decode(std::string_view bytes, bool last, std::string& output) {
    std::string_view input = bytes;
    if (!carry_.empty()) {
        carry_.append(bytes);
        input = carry_;
    }
    converted_.clear();
    // iconv takes UTF-8 forms beyond U+10FFFF: stop it short of each one. The next such
    // byte is looked for once per byte passed, never again from the start.
    constexpr auto none = std::string_view::npos;
    std::size_t beyond = encoding_ == TextEncoding::Utf8 ? firstBeyondUnicode(input) : none;
    for (;;) {
        std::string_view part = input.substr(0, beyond);
        const std::size_t partSize = part.size();
        auto stop = converter_.convert(part, converted_);
        const std::size_t consumed = partSize - part.size();
        input.remove_prefix(consumed);
        if (beyond != none)
            beyond -= consumed;
        if (beyond != std::string_view::npos && stop != IconvConverter::Stop::InvalidSequence)
            stop = IconvConverter::Stop::InvalidSequence;
        if (stop == IconvConverter::Stop::Done)
            break;
        if (stop == IconvConverter::Stop::IncompleteSequence && !last)
            break; // the next piece may complete it
        clean_ = false;
        if (stop == IconvConverter::Stop::IncompleteSequence) {
            input = {}; // cut off at the very end of the text: dropped
            break;
        }
        converted_.append(encoding_ == TextEncoding::Windows1252 ? std::string_view(" ")
                                                                 : replacementCharacter);
        const std::size_t skipped = std::min(input.size(), codeUnitSize(encoding_));
        input.remove_prefix(skipped);
        if (beyond != none && beyond < skipped)
            beyond = firstBeyondUnicode(input); // passed it: find the next
        else if (beyond != none)
            beyond -= skipped;
        converter_.reset();
    }
    std::string rest(input);
    carry_ = std::move(rest);
    appendCleaned(converted_, output);
}

void TextDecoder::appendCleaned(std::string_view utf8, std::string& output) {
    const std::size_t start = output.size();
    output.append(utf8);
    for (std::size_t i = start; i < output.size(); ++i) {
        auto& c = reinterpret_cast<unsigned char&>(output[i]);
        // A carriage return is a space: "\r\n" then ends a line, as "\n" does.
        if (c == '\r')
            c = ' ';
        else if ((c < 0x20 && c != '\n') || c == 0x7F)
            c = ' ';
        else if (c == 0xC2 && i + 1 < output.size() &&
                 static_cast<unsigned char>(output[i + 1]) < 0xA0) {
            // C1 control characters U+0080 to U+009F: two spaces keep the length.
            output[i] = ' ';
            output[i + 1] = ' ';
            ++i;
        }
    }
}

TextEncoding detectEncoding(std::string_view bytes) {
    const TextEncoding fromStart = encodingFromStart(bytes);
    if (fromStart != TextEncoding::Automatic)
        return fromStart;
    TextDecoder probe(TextEncoding::Utf8);
    std::string scratch;
    constexpr std::size_t piece = 1 << 16;
    for (std::size_t at = 0; at < bytes.size() && probe.clean(); at += piece) {
        scratch.clear();
        probe.decode(bytes.substr(at, piece), at + piece >= bytes.size(), scratch);
    }
    return probe.clean() ? TextEncoding::Utf8 : TextEncoding::Windows1252;
}

std::string decodeText(std::string_view bytes, TextEncoding encoding) {
    if (encoding == TextEncoding::Automatic)
        encoding = detectEncoding(bytes);
    if (encodingFromStart(bytes) == encoding)
        bytes.remove_prefix(byteOrderMarkLength(bytes));
    TextDecoder decoder(encoding);
    std::string text;
    decoder.decode(bytes, true, text);
    return text;
}

} // namespace kestrova::speech

#include "speech/text/readers/markdown/markdown_source.h"

#include "speech/base/utf8.h"
#include "speech/file_failures.h"
#include "speech/file_identity.h"
#include "speech/speech_error.h"
#include "speech/text/readers/markdown/front_matter.h"
#include "speech/text/readers/markdown/markdown_document.h"
#include "speech/text/readers/plain/text_decoder.h"
#include "speech/text/readers/plain/text_file_reader.h"
#include "speech/text_encoding.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace kestrova::speech::markdown {

namespace {

// The bytes that can mark up Markdown, and line ends: what cmark makes its nodes at.
std::size_t marksIn(std::string_view text) {
    static constexpr auto isMark = [] {
        std::array<bool, 256> table{};
        for (const unsigned char c : std::string_view("*_`[]!<>&\\-+|~#:\n\r"))
            table[c] = true;
        return table;
    }();
    std::size_t marks = 0;
    for (const char c : text)
        marks += isMark[static_cast<unsigned char>(c)];
    return marks;
}

// Markdown is UTF-8; a file that is not (UTF-16 with its mark, bytes that are no UTF-8 read
// as Windows-1252 as plain text is, or behind a UTF-8 mark with U+FFFD for them) is decoded
// first, and its places are then unknown: cmark would count its columns in other bytes.
MarkdownSource sourceOf(std::string bytes) {
    MarkdownSource source;
    const TextEncoding marked = encodingFromStart(bytes);
    const std::size_t mark = byteOrderMarkLength(bytes);
    // Valid UTF-8 is what detectEncoding would find unmarked text to be.
    if ((marked == TextEncoding::Automatic || marked == TextEncoding::Utf8) &&
        isUtf8(std::string_view(bytes).substr(mark))) {
        source.offset = mark;
        source.text = std::move(bytes);
        source.text.erase(0, source.offset);
        // cmark would put U+FFFD for a NUL, three bytes for one, and count its columns in them;
        // a space, as plain text reads it, keeps the places.
        std::replace(source.text.begin(), source.text.end(), '\0', ' ');
    } else {
        source.text = decodeText(bytes, detectEncoding(bytes));
        source.placesKnown = false;
    }
    FrontMatter frontMatter = readFrontMatter(source.text);
    source.firstLine += static_cast<int>(
        std::count(source.text.begin(),
                   source.text.begin() + static_cast<std::ptrdiff_t>(frontMatter.length), '\n'));
    source.text.erase(0, frontMatter.length);
    source.offset += frontMatter.length;
    source.frontMatter = std::move(frontMatter.metadata);
    return source;
}

} // namespace

[[noreturn]] void refuse(const std::string& name, const std::string& reason) {
    throw FileError(inputFailure("read", name, reason));
}

void checkCancelled(const DocumentOptions& options, const std::string& name) {
    if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed))
        throw ConversionCancelled(inputFailure("read", name, "the conversion was cancelled"));
}

MarkdownSource checkedSource(std::string bytes, const std::string& name,
                             const DocumentOptions& options) {
    MarkdownSource source = sourceOf(std::move(bytes));
    checkCancelled(options, name);
    if (marksIn(source.text) > markdownMaxMarks)
        refuse(name, "it holds more than " + std::to_string(markdownMaxMarks) +
                         " marks of markup and line ends, the most read");
    return source;
}

std::string wholeFile(const std::filesystem::path& file, const DocumentOptions& options) {
    const std::string tooLarge = "it is larger than " + std::to_string(markdownMaxBytes >> 20) +
                                 " MiB, the most a Markdown file may hold";
    // Before the reader's pass over the whole file.
    if (const auto identity = FileIdentity::ofPath(file);
        identity && static_cast<std::uint64_t>(identity->size) > markdownMaxBytes)
        refuse(file.native(), tooLarge);
    TextFileReader reader(file, TextEncoding::Automatic, options.cancel);
    std::string bytes;
    for (std::string piece; reader.readUndecoded(piece);) {
        checkCancelled(options, file.native());
        if (bytes.size() + piece.size() > markdownMaxBytes)
            refuse(file.native(), tooLarge);
        bytes += piece;
    }
    return bytes;
}

} // namespace kestrova::speech::markdown

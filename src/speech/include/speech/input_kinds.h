#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kestrova::speech {

class StructuredDocument;
class ZipArchive;
struct DocumentOptions;

// What an input file is read as. The library reads plain text unless told otherwise; only
// the command line chooses by the file's content and name (inputKindOfFile).
enum class InputKind { Text, Ssml, Epub, Html, Markdown, Pdf, Docx, Odt };

using DocumentOpener = std::unique_ptr<StructuredDocument> (*)(const std::filesystem::path& file,
                                                               const DocumentOptions& options);

// One row per input kind: every rule about a kind is read from its row, so that a new reader
// is one new row (and its reader).
struct InputKindRow {
    InputKind kind;
    const char* typeName; // as --input-type names it: "epub"
    // The endings that choose it, lower case, compared in any letter case: ".epub".
    std::span<const std::string_view> endings;
    // Whether the file's first bytes (up to inputSniffBytes) show this kind; null: nothing
    // does (plain text is what is left).
    bool (*contentShows)(std::string_view head);
    // Whether a ZIP archive's entries show this kind, where its head shows none (a Word
    // document's main part is named in a compressed entry); never throws. Null: nothing inside
    // an archive does.
    bool (*archiveShows)(const ZipArchive& archive) = nullptr;
    // Opens a structured document; null for the kinds read as a stream of text.
    DocumentOpener open;
    const char* fileKind; // in messages about a file: "EPUB book"
};

// How much of a file's start the content tests see.
inline constexpr std::size_t inputSniffBytes = 4096;

// Every kind, in the order --help lists them.
std::span<const InputKindRow> inputKindRows();
const InputKindRow& inputKindRow(InputKind kind);

// The kind --input-type calls NAME (exact letters), if any.
std::optional<InputKind> inputKindNamed(std::string_view typeName);

// A document with chapters, metadata and blocks rather than a stream of text.
bool isStructured(InputKind kind);

// By content (a zip holding an EPUB's or an OpenDocument text's mimetype, or naming a Word
// document's main part among its content types; an XML document whose root is SSML's speak, an
// HTML doctype or html root; a PDF's "%PDF-"), then by ending, else plain text. A .txt file is
// plain text whatever it holds, as it always was. A file that cannot be read is judged by its
// name alone: its conversion then says why it cannot be read.
InputKind inputKindOfFile(const std::filesystem::path& file);
// The same judgement on the file's first bytes and its name, and where they are a ZIP
// archive's, on its entries read through openFile (a regular file's descriptor; -1: none).
InputKind inputKindOf(std::string_view head, const std::filesystem::path& name, int openFile = -1);

// What a structured document's reader leaves out unless asked.
struct DocumentChoices {
    bool readAlt = false;   // images' alternative text
    bool readNotes = false; // footnotes, endnotes and the marks that refer to them
    bool readCode = false;  // code blocks (Markdown)

    bool any() const { return readAlt || readNotes || readCode; }
};

// A structured document gets this much silence before each chapter unless the request asks
// for another.
inline constexpr int defaultDocumentChapterPauseMs = 1500;

} // namespace kestrova::speech

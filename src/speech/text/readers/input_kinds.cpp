#include "speech/input_kinds.h"

#include "speech/ascii.h"
#include "speech/base/unique_fd.h"
#include "speech/text/readers/document.h"
#include "speech/text/readers/zip/zip_archive.h"
#include "speech/whole_io.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The start of a markup document past what may come before its root or doctype: a byte order
// mark, white space, the XML declaration, processing instructions and comments.
std::string_view pastPrologue(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    for (;;) {
        while (!text.empty() && isXmlSpace(text.front()))
            text.remove_prefix(1);
        const std::string_view close = text.starts_with("<?")     ? "?>"
                                       : text.starts_with("<!--") ? "-->"
                                                                  : "";
        if (close.empty())
            return text;
        const std::size_t end = text.find(close);
        if (end == std::string_view::npos)
            return {};
        text.remove_prefix(end + close.size());
    }
}

// Whether the markup's doctype or root element has this name: in any letter case for HTML,
// exactly for XML.
bool rootNamed(std::string_view head, std::string_view name, bool anyCase) {
    std::string_view text = pastPrologue(head);
    if (startsWithIgnoringAsciiCase(text, "<!DOCTYPE")) {
        text.remove_prefix(9);
        while (!text.empty() && isXmlSpace(text.front()))
            text.remove_prefix(1);
    } else if (text.starts_with("<")) {
        text.remove_prefix(1);
    } else {
        return false;
    }
    if (anyCase ? !startsWithIgnoringAsciiCase(text, name) : !text.starts_with(name))
        return false;
    const std::string_view after = text.substr(name.size());
    return after.empty() || isXmlSpace(after.front()) || after.front() == '>' ||
           after.front() == '/' || after.front() == '[';
}

bool showsSsml(std::string_view head) {
    return rootNamed(head, "speak", false);
}

bool showsHtml(std::string_view head) {
    return rootNamed(head, "html", true);
}

constexpr std::string_view zipStart = "PK\x03\x04";

// An EPUB and an OpenDocument file begin with their stored "mimetype" entry, so that the zip's
// first local header names it and holds its content.
bool showsStoredMimetype(std::string_view head, std::string_view mimetype) {
    constexpr std::size_t nameAt = 30;
    if (!head.starts_with(zipStart) || head.substr(nameAt, 8) != "mimetype")
        return false;
    const auto byte = [&](std::size_t at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(head[at]));
    };
    const std::size_t nameLength = byte(26) | byte(27) << 8;
    const std::size_t extraLength = byte(28) | byte(29) << 8;
    const std::string_view content =
        head.substr(std::min(head.size(), nameAt + nameLength + extraLength));
    // An OpenDocument template's type carries "-template" after the kind's.
    return nameLength == 8 && content.starts_with(mimetype) &&
           (content.size() == mimetype.size() || content[mimetype.size()] != '-' ||
            content.substr(mimetype.size()).starts_with("-template"));
}

bool showsEpub(std::string_view head) {
    return showsStoredMimetype(head, "application/epub+zip");
}

bool showsOdt(std::string_view head) {
    return showsStoredMimetype(head, "application/vnd.oasis.opendocument.text");
}

// A Word document's content types name its main part.
bool archiveShowsDocx(const ZipArchive& archive) {
    constexpr std::uint64_t mostBytes = 1 << 20;
    try {
        return archive.contains("[Content_Types].xml") &&
               archive.read("[Content_Types].xml", mostBytes)
                       .find("application/vnd.openxmlformats-officedocument.wordprocessingml."
                             "document.main+xml") != std::string::npos;
    } catch (const std::exception&) {
        return false;
    }
}

bool showsPdf(std::string_view head) {
    return head.starts_with("%PDF-");
}

constexpr std::array<std::string_view, 1> textEndings{".txt"};
constexpr std::array<std::string_view, 1> ssmlEndings{".ssml"};
constexpr std::array<std::string_view, 1> epubEndings{".epub"};
constexpr std::array<std::string_view, 3> htmlEndings{".html", ".htm", ".xhtml"};
constexpr std::array<std::string_view, 2> markdownEndings{".md", ".markdown"};
constexpr std::array<std::string_view, 1> pdfEndings{".pdf"};
constexpr std::array<std::string_view, 1> docxEndings{".docx"};
constexpr std::array<std::string_view, 1> odtEndings{".odt"};

const std::array inputKindTable{
    InputKindRow{.kind = InputKind::Text,
                 .typeName = "text",
                 .endings = textEndings,
                 .contentShows = nullptr,
                 .archiveShows = nullptr,
                 .open = nullptr,
                 .fileKind = "text file"},
    InputKindRow{.kind = InputKind::Ssml,
                 .typeName = "ssml",
                 .endings = ssmlEndings,
                 .contentShows = showsSsml,
                 .archiveShows = nullptr,
                 .open = nullptr,
                 .fileKind = "SSML document"},
    InputKindRow{.kind = InputKind::Epub,
                 .typeName = "epub",
                 .endings = epubEndings,
                 .contentShows = showsEpub,
                 .archiveShows = nullptr,
                 .open = openEpub,
                 .fileKind = "EPUB book"},
    InputKindRow{.kind = InputKind::Html,
                 .typeName = "html",
                 .endings = htmlEndings,
                 .contentShows = showsHtml,
                 .archiveShows = nullptr,
                 .open = openHtml,
                 .fileKind = "HTML document"},
    InputKindRow{.kind = InputKind::Markdown,
                 .typeName = "markdown",
                 .endings = markdownEndings,
                 .contentShows = nullptr, // Markdown is plain text to look at
                 .archiveShows = nullptr,
                 .open = openMarkdown,
                 .fileKind = "Markdown document"},
    InputKindRow{.kind = InputKind::Pdf,
                 .typeName = "pdf",
                 .endings = pdfEndings,
                 .contentShows = showsPdf,
                 .archiveShows = nullptr,
                 .open = openPdf,
                 .fileKind = "PDF document"},
    InputKindRow{.kind = InputKind::Docx,
                 .typeName = "docx",
                 .endings = docxEndings,
                 .contentShows = nullptr,
                 .archiveShows = archiveShowsDocx,
                 .open = openDocx,
                 .fileKind = "Word document"},
    InputKindRow{.kind = InputKind::Odt,
                 .typeName = "odt",
                 .endings = odtEndings,
                 .contentShows = showsOdt,
                 .archiveShows = nullptr,
                 .open = openOdt,
                 .fileKind = "OpenDocument text"},
};

// UTF-16 markup (SSML may be written so) seen as ASCII: its zero bytes left out.
std::string asciiView(std::string_view head) {
    const bool utf16 = head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF") ||
                       (head.size() >= 2 && (head[0] == '\0') != (head[1] == '\0'));
    std::string view(head);
    if (utf16)
        std::erase(view, '\0');
    if (view.starts_with("\xFF\xFE") || view.starts_with("\xFE\xFF"))
        view.erase(0, 2);
    return view;
}

std::optional<InputKind> kindByEnding(const std::filesystem::path& name) {
    const std::string ending = lowerCaseEnding(name);
    for (const InputKindRow& row : inputKindTable)
        for (const std::string_view known : row.endings)
            if (ending == known)
                return row.kind;
    return std::nullopt;
}

std::string fileHead(const UniqueFd& fd) {
    std::string head(inputSniffBytes, '\0');
    head.resize(fd ? readAllAt(fd.get(), head.data(), head.size(), 0).done : 0);
    return head;
}

// The kind whose row's archive test the archive passes; an archive that cannot be opened
// shows none (its name then decides, and its reader says why it cannot be read).
std::optional<InputKind> kindInsideArchive(const std::filesystem::path& name, int openFile) {
    try {
        const ZipArchive archive(name, UniqueFd(::fcntl(openFile, F_DUPFD_CLOEXEC, 0)));
        for (const InputKindRow& row : inputKindTable)
            if (row.archiveShows && row.archiveShows(archive))
                return row.kind;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

} // namespace

std::span<const InputKindRow> inputKindRows() {
    return inputKindTable;
}

const InputKindRow& inputKindRow(InputKind kind) {
    return *std::find_if(inputKindTable.begin(), inputKindTable.end(),
                         [kind](const InputKindRow& row) { return row.kind == kind; });
}

std::optional<InputKind> inputKindNamed(std::string_view typeName) {
    for (const InputKindRow& row : inputKindTable)
        if (typeName == row.typeName)
            return row.kind;
    return std::nullopt;
}

bool isStructured(InputKind kind) {
    return inputKindRow(kind).open != nullptr;
}

InputKind inputKindOf(std::string_view head, const std::filesystem::path& name, int openFile) {
    const std::optional<InputKind> byEnding = kindByEnding(name);
    if (byEnding == InputKind::Text)
        return InputKind::Text;
    const std::string ascii = asciiView(head);
    for (const InputKindRow& row : inputKindTable)
        if (row.contentShows &&
            row.contentShows(head.starts_with(zipStart) || row.kind == InputKind::Pdf ? head
                                                                                      : ascii))
            return row.kind;
    if (openFile >= 0 && head.starts_with(zipStart))
        if (const std::optional<InputKind> inside = kindInsideArchive(name, openFile))
            return *inside;
    return byEnding.value_or(InputKind::Text);
}

InputKind inputKindOfFile(const std::filesystem::path& file) {
    // Only a regular file is looked into: a FIFO gives its bytes once.
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return inputKindOf({}, file);
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    return inputKindOf(fileHead(fd), file, fd.get());
}

} // namespace kestrova::speech

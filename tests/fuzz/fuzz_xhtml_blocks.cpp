// The XHTML page reader, on any bytes: it fails only with a one-line message naming the page
// (XHTML that is not well-formed is read as HTML, with a warning naming the page and its line),
// and what it reads is clean blocks whose places lie inside the page. The first input byte
// chooses the parser (XML or HTML) and the options.

#include "fuzz_check.h"
#include "speech/speech_error.h"
#include "speech/text/readers/html/xhtml_blocks.h"

#include <cstdint>
#include <string>

namespace {

using namespace kestrova::speech;

const std::string pageName = "OEBPS/fuzz.xhtml";

bool namesThePage(const std::string& message) {
    return message.rfind(pageName + ":", 0) == 0 &&
           message.find_first_of("\n\r\x1B") == std::string::npos;
}

void checkRun(const DocumentRun& run, std::size_t pageBytes) {
    FUZZ_CHECK(!run.text.empty());
    FUZZ_CHECK(run.text.front() != ' ');
    FUZZ_CHECK(run.text.find("  ") == std::string::npos);
    FUZZ_CHECK(run.text.find_first_of("\t\n\r\f") == std::string::npos);
    for (std::size_t k = 0; k < run.sourceBytes.size(); ++k) {
        const auto& [first, place] = run.sourceBytes[k];
        FUZZ_CHECK(k == 0 ? first == 0 : first > run.sourceBytes[k - 1].first);
        FUZZ_CHECK(first < run.text.size());
        FUZZ_CHECK(place <= pageBytes);
    }
}

class CheckingSink : public DocumentSink {
public:
    explicit CheckingSink(std::size_t pageBytes) : pageBytes_(pageBytes) {}
    void chapter(std::string title) override { FUZZ_CHECK(kestrova::fuzz::isCleanMetadata(title)); }
    void block(DocumentBlock block) override {
        FUZZ_CHECK(!block.runs.empty());
        FUZZ_CHECK(block.source == pageName);
        for (std::size_t i = 0; i < block.runs.size(); ++i) {
            checkRun(block.runs[i], pageBytes_);
            // Runs of one language are one run.
            FUZZ_CHECK(i == 0 || block.runs[i - 1].language != block.runs[i].language);
        }
        FUZZ_CHECK(block.runs.back().text.back() != ' ');
    }

private:
    std::size_t pageBytes_;
};

// A note target's file is resolved inside the book: no ".." step remains ("notes..html" is a
// plain name).
bool climbsAbove(const std::string& file) {
    return file == ".." || file.starts_with("../") || file.ends_with("/..") ||
           file.find("/../") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrova::fuzz::InputBytes input(data, size);
    const std::uint8_t choice = input.take();
    XhtmlPage page;
    page.bytes = input.rest();
    page.name = pageName;
    page.html = (choice & 1) != 0;
    page.headingsAreChapters = (choice & 8) != 0;
    page.chaptersAt = {{"", "Start"}, {"c", "C"}};
    page.noteIds = {"n"};
    DocumentOptions options;
    options.readAlt = (choice & 2) != 0;
    options.readNotes = (choice & 4) != 0;
    // Each warning names the page, and its line where it names one (a page read as HTML).
    options.warning = [](const std::string& line) {
        const std::string named = "\"" + pageName + "\":";
        FUZZ_CHECK(line.rfind(named, 0) == 0 &&
                   line.find_first_of("\n\r\x1B") == std::string::npos);
        const std::size_t digits = line.find_first_not_of("0123456789", named.size());
        FUZZ_CHECK(digits == named.size() ? line.compare(digits, 1, " ") == 0
                                          : line.compare(digits, 2, ": ") == 0);
    };
    try {
        CheckingSink sink(page.bytes.size());
        readXhtmlPage(page, options, sink);
        for (const auto& [file, id] : noteTargetsOf(page))
            FUZZ_CHECK(!id.empty() && !climbsAbove(file));
    } catch (const FileError& error) {
        FUZZ_CHECK(namesThePage(error.what()));
    }
    return 0;
}

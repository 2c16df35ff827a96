// The PDF reader, on any bytes: it fails only with a one-line message naming the file, its
// metadata and chapter titles are clean, its blocks clean text with a page label, and a second
// reading gives the same. The first input byte chooses whether notes are read.

#include "fuzz_check.h"
#include "speech/speech_error.h"
#include "speech/text/readers/pdf/pdf_document.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace kestrova::speech;

const std::string failurePrefix = "cannot read the PDF document \"fuzz.pdf\": ";

bool isOneLine(const std::string& message) {
    return message.find_first_of("\n\r\x1B") == std::string::npos;
}

class CheckingSink : public DocumentSink {
public:
    void chapter(std::string title) override {
        FUZZ_CHECK(!title.empty() && kestrova::fuzz::isCleanMetadata(title));
        events.push_back("# " + title);
    }

    void block(DocumentBlock block) override {
        FUZZ_CHECK(block.runs.size() == 1 && block.runs[0].sourceBytes.empty());
        const std::string& text = block.runs[0].text;
        FUZZ_CHECK(!text.empty() && kestrova::fuzz::isCleanMetadata(text));
        FUZZ_CHECK(text.find("\xC2\xAD") == std::string::npos); // soft hyphens are joined away
        FUZZ_CHECK(!block.page.empty() && kestrova::fuzz::isCleanMetadata(block.page));
        events.push_back(block.page + ": " + text);
    }

    std::vector<std::string> events;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrova::fuzz::InputBytes input(data, size);
    DocumentOptions options;
    options.readNotes = (input.take() & 1) != 0;
    options.warning = [](const std::string& line) {
        FUZZ_CHECK(line.rfind("\"fuzz.pdf\": ", 0) == 0 && isOneLine(line));
    };
    try {
        const auto document = readPdf(std::string(input.rest()), "fuzz.pdf", options);
        const DocumentMetadata& metadata = document->metadata();
        for (const std::string* field : {&metadata.title, &metadata.author, &metadata.language})
            FUZZ_CHECK(kestrova::fuzz::isCleanMetadata(*field));
        CheckingSink first;
        document->read(first);
        CheckingSink second;
        document->read(second);
        FUZZ_CHECK(first.events == second.events);
    } catch (const SpeechError& error) {
        const std::string message = error.what();
        FUZZ_CHECK(message.rfind(failurePrefix, 0) == 0 && isOneLine(message));
    }
    return 0;
}

// The Markdown reader, on any bytes: it fails only with a one-line message naming the file, its
// blocks are clean text whose places lie inside the file, and a second reading gives the same.
// The first input byte chooses the options (alt text, notes, code).

#include "fuzz_check.h"
#include "speech/base/utf8.h"
#include "speech/speech_error.h"
#include "speech/text/readers/markdown/markdown_document.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace kestrova::speech;

const std::string failurePrefix = "cannot read the text file \"fuzz.md\": ";

bool isOneLine(const std::string& message) {
    return message.find_first_of("\n\r\x1B") == std::string::npos;
}

// Valid UTF-8 without control characters: what a voice is given.
bool isClean(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8SequenceLength(std::string_view(text).substr(i));
        if (length == 0 || static_cast<unsigned char>(text[i]) < ' ' || text[i] == '\x7F')
            return false;
        i += length;
    }
    return true;
}

class CheckingSink : public DocumentSink {
public:
    explicit CheckingSink(std::size_t fileSize) : fileSize_(fileSize) {}

    void chapter(std::string title) override {
        FUZZ_CHECK(!title.empty() && kestrova::fuzz::isCleanMetadata(title));
        events.push_back("# " + title);
    }

    void block(DocumentBlock block) override {
        FUZZ_CHECK(block.runs.size() == 1);
        const DocumentRun& run = block.runs[0];
        FUZZ_CHECK(!run.text.empty() && isClean(run.text));
        FUZZ_CHECK(run.text.front() != ' ' && run.text.back() != ' ');
        FUZZ_CHECK(run.text.find("  ") == std::string::npos);
        for (std::size_t k = 0; k < run.sourceBytes.size(); ++k) {
            FUZZ_CHECK(k > 0 || run.sourceBytes[k].first == 0);
            FUZZ_CHECK(k == 0 || run.sourceBytes[k].first > run.sourceBytes[k - 1].first);
            FUZZ_CHECK(run.sourceBytes[k].first < run.text.size());
            FUZZ_CHECK(run.sourceBytes[k].second < fileSize_);
        }
        events.push_back(run.text);
    }

    std::vector<std::string> events;

private:
    std::size_t fileSize_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrova::fuzz::InputBytes input(data, size);
    const std::uint8_t choice = input.take();
    DocumentOptions options;
    options.readAlt = (choice & 1) != 0;
    options.readNotes = (choice & 2) != 0;
    options.readCode = (choice & 4) != 0;
    options.warning = [](const std::string& line) {
        FUZZ_CHECK(line.rfind("\"fuzz.md\": ", 0) == 0 && isOneLine(line));
    };
    const std::string bytes(input.rest());
    try {
        const auto document = readMarkdown(bytes, "fuzz.md", options);
        const DocumentMetadata& metadata = document->metadata();
        for (const std::string* field :
             {&metadata.title, &metadata.author, &metadata.language, &metadata.date})
            FUZZ_CHECK(kestrova::fuzz::isCleanMetadata(*field));
        CheckingSink first(bytes.size());
        document->read(first);
        CheckingSink second(bytes.size());
        document->read(second);
        FUZZ_CHECK(first.events == second.events);
    } catch (const SpeechError& error) {
        const std::string message = error.what();
        FUZZ_CHECK(message.rfind(failurePrefix, 0) == 0 && isOneLine(message));
    }
    return 0;
}

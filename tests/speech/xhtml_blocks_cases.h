#pragma once

// Shared by the xhtml_blocks tests.

#include "speech/speech_error.h"
#include "speech/text/readers/html/xhtml_blocks.h"
#include "support/running_program.h"
#include "support/test_support.h"

#include <atomic>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace {

namespace fs = std::filesystem;

// What a reader hands over, in order: "# TITLE" for a chapter, the text for a block.
class RecordingSink : public DocumentSink {
public:
    void chapter(std::string title) override { events.push_back("# " + title); }
    void block(DocumentBlock block) override {
        std::string text;
        for (const DocumentRun& run : block.runs)
            text += run.text;
        events.push_back(text);
        blocks.push_back(std::move(block));
    }
    std::string all() const {
        std::string joined;
        for (const std::string& event : events)
            joined += event + "\n";
        return joined;
    }
    std::vector<std::string> events;
    std::vector<DocumentBlock> blocks;
};

inline DocumentOptions reading(bool readAlt, bool readNotes) {
    DocumentOptions options;
    options.readAlt = readAlt;
    options.readNotes = readNotes;
    return options;
}

inline XhtmlPage pageNamed(std::string name, bool html = false) {
    XhtmlPage page;
    page.name = std::move(name);
    page.html = html;
    return page;
}

inline RecordingSink readPage(const std::string& bytes, const DocumentOptions& options = {},
                              XhtmlPage page = {}) {
    page.bytes = bytes;
    if (page.name.empty())
        page.name = "OEBPS/page.xhtml";
    RecordingSink sink;
    readXhtmlPage(page, options, sink);
    return sink;
}

// Every letter and digit of every run stands in the page where the run's places say.
inline void expectPlacesInPage(const std::vector<DocumentBlock>& blocks, const std::string& page) {
    for (const DocumentBlock& block : blocks)
        for (const DocumentRun& run : block.runs) {
            ASSERT_FALSE(run.sourceBytes.empty()) << run.text;
            ASSERT_EQ(run.sourceBytes.front().first, 0u);
            std::size_t k = 0;
            for (std::size_t at = 0; at < run.text.size(); ++at) {
                while (k + 1 < run.sourceBytes.size() && run.sourceBytes[k + 1].first <= at)
                    ++k;
                const std::uint64_t place =
                    run.sourceBytes[k].second + (at - run.sourceBytes[k].first);
                ASSERT_LT(place, page.size());
                const auto byte = static_cast<unsigned char>(run.text[at]);
                if (std::isalnum(byte) != 0 || byte >= 0x80) {
                    ASSERT_EQ(page[place], run.text[at])
                        << run.text.substr(at - std::min<std::size_t>(at, 20), 40) << " at " << at;
                }
            }
        }
}

} // namespace
} // namespace kestrova::speech

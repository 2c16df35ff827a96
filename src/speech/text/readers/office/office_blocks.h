#pragma once

#include "speech/text/readers/document.h"
#include "speech/text/readers/html/xhtml_block_text.h"

#include <filesystem>
#include <string>

namespace kestrova::speech {

// Hands a word processor's paragraphs to the sink as blocks: a heading of the document's top
// level (the lowest outline level it uses) begins a chapter titled by its text, and is read as
// a block too; a scene break is no block. Cancelling is looked at after each block.
class OfficeBlocks {
public:
    OfficeBlocks(DocumentSink& sink, const DocumentOptions& options,
                 const std::filesystem::path& document, int chapterLevel)
        : sink_(sink), options_(options), document_(document), chapterLevel_(chapterLevel) {}

    // The block being gathered.
    xhtml::BlockText& text() { return text_; }
    // Ends the block; headingLevel 0: not a heading.
    void end(const std::string& source, int headingLevel = 0);
    void leftOut(LeftOut what) { sink_.leftOut(what); }

private:
    DocumentSink& sink_;
    const DocumentOptions& options_;
    const std::filesystem::path& document_;
    int chapterLevel_; // 0: no heading in the document
    xhtml::BlockText text_;
};

// Of outline levels seen one by one, the lowest (1 the highest heading); 0 while none is seen.
class TopLevel {
public:
    void see(int level) {
        if (level > 0 && (lowest_ == 0 || level < lowest_))
            lowest_ = level;
    }
    int lowest() const { return lowest_; }

private:
    int lowest_ = 0;
};

} // namespace kestrova::speech

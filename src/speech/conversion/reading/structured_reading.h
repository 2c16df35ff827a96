#pragma once

#include "speech/base/warning_tally.h"
#include "speech/conversion/reading/paragraph_counter.h"
#include "speech/conversion/reading/planned_sentences.h"
#include "speech/converter.h"
#include "speech/render/render_task.h"
#include "speech/text/readers/document.h"
#include "speech/text/script/text_chunker.h"
#include "speech/text/script/writing_script.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace kestrova::speech {

// Turns a structured document's blocks into sentences as they arrive, so that a book never
// stands in memory whole: each block is cut into chunks, one sentence each (a block ends a
// paragraph), by the conventions of the voice that reads most of it, and handed on with its
// chapter and its place in its source. A passage in another language stays inside its
// sentence: the sentence carries where its voice changes. Chapters count from 1 at each
// sink.chapter(); the text before the first is chapter 0. Chunks of chapters the request does not
// select are passed over.
class StructuredReading : public DocumentSink {
public:
    using Speak = std::function<void(DocumentSentence sentence)>;

    // documentVoice and registry (where the voices of other languages are found; none: the
    // installed voices, discovered when first needed) must outlive this, and so must the
    // voice of each sentence handed to speak. documentLanguage: the document's own, which
    // documentVoice reads whatever it speaks (-e chooses the voice of the document's own
    // language). warning: where a language no voice speaks is told, if anywhere.
    StructuredReading(const ConversionRequest& request, const Voice& documentVoice,
                      std::string documentLanguage, const VoiceRegistry* registry,
                      std::function<void(const std::string&)> warning, Speak speak);

    void chapter(std::string title) override;
    void block(DocumentBlock block) override;
    void leftOut(LeftOut what) override { leftOut_.insert(what); }

    // Settles the document's voice by the script of its first letters: its chapters and blocks
    // wait until that many letters are counted, or the document ends (finish), and are read
    // then with the voice settle names (null: documentVoice stays), which must outlive this.
    using SettleVoice = std::function<const Voice*(const ScriptTally&)>;
    void settleVoiceByScript(SettleVoice settle, std::size_t letters);
    // Once the document is read: what waits for the voice is read, and how many more
    // languages no voice speaks than were told of is told.
    void finish();

    // Chapters the document began, selected or not.
    unsigned chapters() const { return chapterNumber_; }
    // Characters of the chunks of the chapters selected.
    std::uint64_t characters() const { return characters_; }
    // Whether any text was read, in any chapter, selected or not.
    bool readAny() const { return readAny_; }
    // What the reader passed over.
    const std::set<LeftOut>& leftOut() const { return leftOut_; }

private:
    // A block's runs as one text, read through one chunker.
    struct BlockRuns {
        std::string text;
        // Where each run's text begins in text, with the run.
        std::vector<std::pair<std::size_t, const DocumentRun*>> runs;
        // Where each voice begins in text; a run of the voice before it goes on with it.
        std::vector<VoiceStart> voices;
    };

    // What waits for the document's voice to be settled.
    struct Unsettled {
        SettleVoice settle;
        std::size_t letters = 0;
        ScriptTally tally;
        std::vector<std::variant<std::string, DocumentBlock>> held; // a chapter's title, a block
    };

    void settle();
    void readChapter(std::string title);
    void readBlock(DocumentBlock block);
    const Voice& voiceFor(const std::string& language);
    void readBlock(const BlockRuns& block, const std::string& source, const std::string& page);
    static const Voice& mainVoice(const BlockRuns& block);
    std::vector<VoiceStart> blockVoicesRead(const BlockRuns& block) const;
    static std::optional<std::uint64_t> sourceByte(const BlockRuns& block, std::size_t at,
                                                   bool end);

    const ConversionRequest& request_;
    const Voice* documentVoice_;
    std::optional<Unsettled> unsettled_;
    const std::string documentLanguage_;
    const VoiceRegistry* registry_;
    std::unique_ptr<VoiceRegistry> discovered_;
    // The voice of each language met; none: no voice speaks it.
    std::map<std::string, std::optional<Voice>> voicesByLanguage_;
    std::set<std::string> unspokenLanguages_;
    // The languages no voice speaks, each told of once, and past a few only counted: a
    // document may tag its passages with thousands.
    WarningTally unspokenTold_;
    Speak speak_;
    ParagraphCounter paragraphs_;
    unsigned chapterNumber_ = 0;
    std::string chapterTitle_;
    std::uint64_t characters_ = 0;
    std::set<LeftOut> leftOut_;
    bool readAny_ = false;
};

// The request's structured document, opened by its kind's reader with the request's choices,
// from openFile where it is open (-1: by its path). Throws FileError naming the file when it
// cannot be opened.
std::unique_ptr<StructuredDocument> openDocument(const ConversionRequest& request,
                                                 std::function<void(const std::string&)> warning,
                                                 const std::atomic<bool>* cancel, int openFile);

} // namespace kestrova::speech

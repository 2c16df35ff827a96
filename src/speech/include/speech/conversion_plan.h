#pragma once

#include "speech/converter.h"

#include <atomic>
#include <functional>
#include <memory>

namespace kestrova::speech {

// What planConversion settles beyond the request itself.
struct PlanChoices {
    // The input's kind from its content, then its name (inputKindOf), not the request's.
    bool kindByContent = false;
    // A structured document's title, author, date and cover become the request's tags where it
    // has none (and the container can hold tags; for an MP3 stream, Latin-1 text only).
    bool adoptMetadata = false;
    // With adoptMetadata: the document's language chooses a voice of this registry speaking
    // it (voiceChoice then says so). None: the request's voice.
    const VoiceRegistry* voiceByLanguage = nullptr;
    // The chapters are found before rendering even where the request alone needs them not
    // (a cue sheet's tracks are checked before any sound).
    bool surveyChapters = false;
    // A structured document is read through for its chapters and the length of its speech
    // whatever is asked; false: only where chapters are asked for (a batch's file, planned
    // again where it is converted).
    bool surveyDocument = true;
    // Called once the input is open and its kind, tags and voice settled, before its chapters
    // are found: the caller's own checks and settings of the request come in their order there.
    std::function<void(ConversionRequest&)> opened;
};

// One conversion, planned before anything is rendered: the request as its input settles it,
// the chapters it will find and the files they go to, and the input, opened once and kept
// open for the conversion, which reads it from there. Move-only.
class ConversionPlan {
public:
    struct Input; // the library's: the opened file and its reader

    // A plan of the request alone, its input not opened: converting it opens the input then.
    explicit ConversionPlan(ConversionRequest request, ChapterPlan chapters = {});
    ConversionPlan(ConversionRequest request, ChapterPlan chapters, std::unique_ptr<Input> input);
    ConversionPlan(ConversionPlan&&) noexcept;
    ConversionPlan& operator=(ConversionPlan&&) noexcept;
    ~ConversionPlan();

    const ConversionRequest& request() const { return request_; }
    // For the callbacks only (soundWritten, warning): the rest is planned.
    ConversionRequest& request() { return request_; }
    const ChapterPlan& chapters() const { return chapters_; }
    // The opened input; null once closed, or never opened.
    Input* input() const { return input_.get(); }
    // Closes the input, keeping what the plan knows (a batch converts each file in a process
    // of its own, which opens it there).
    void closeInput();

private:
    ConversionRequest request_;
    ChapterPlan chapters_;
    std::unique_ptr<Input> input_;
};

// Opens the request's input once and reads it as far as the plan needs: its kind, what a
// document says of itself, and, where chapters are split, selected, surveyed or the input is a
// structured document, its chapters (a document is read through once, with no engine). Throws
// FileError when the input cannot be opened or read, and when the request's chapter selection
// names none of its chapters; a set cancel flag stops the reading with ConversionCancelled.
ConversionPlan planConversion(ConversionRequest request, const PlanChoices& choices = {},
                              const std::atomic<bool>* cancel = nullptr);

// convertTextFile, reading the plan's opened input (opened now if it is not).
ConversionResult convertTextFile(ConversionPlan& plan, const ProgressCallback& progress = {},
                                 const std::atomic<bool>* cancel = nullptr);

} // namespace kestrova::speech

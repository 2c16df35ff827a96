#pragma once

#include "speech/base/unique_fd.h"
#include "speech/conversion/reading/planned_sentences.h"
#include "speech/conversion_plan.h"
#include "speech/file_identity.h"
#include "speech/text/readers/document.h"
#include "speech/text/readers/plain/text_file_reader.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::speech {

// Whether the script of the input's text decides something: the voice, from these voices (null:
// the voice stays, only told of a script it cannot read).
struct ScriptDecides {
    const VoiceRegistry* voices = nullptr;
};

// What the script of the text decided: the voice and why (none: it stays), and what the voice
// cannot read.
struct ScriptVoice {
    std::optional<Voice> voice;
    std::string voiceChoice;
    std::optional<std::string> warning;
};

// A conversion's input, opened once: a regular file's descriptor, kept for the reader of its
// kind, and that reader. Any other file is left to its reader, which opens it by its path and
// says, as it always has, why it cannot be read. Must not move: the document's warnings come
// through this object by address.
struct ConversionPlan::Input {
    // Opens the file and reads its first bytes (for its kind); never throws for the file.
    explicit Input(const std::filesystem::path& path);
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // The plain text or markup reader, made on first use: its failures come where a
    // conversion first reads the text.
    TextFileReader& text(const ConversionRequest& request, const std::atomic<bool>* cancel);
    // Opens the structured document with the request's choices; its warnings go to the
    // request's, or are held while holding is set. Throws FileError naming the file.
    void openDocument(const ConversionRequest& request, const std::atomic<bool>* cancel);
    // A warning of the document: told, or held while holding is set.
    void tell(const std::string& said);
    // The warnings held, told in their order: the conversion tells them where it would have
    // read the document, so that a plan that is never converted says no more than it did.
    void tellHeld();
    // The file as it was when it was opened.
    FileIdentity identity() const;

    const std::filesystem::path path;
    UniqueFd file; // -1 unless a regular file
    std::string head;
    std::optional<FileIdentity> fileIdentity;
    std::optional<TextFileReader> textReader;
    std::unique_ptr<StructuredDocument> document;
    std::function<void(const std::string&)> warning;
    // Whether the document's warnings are held: while the plan reads it.
    bool holding = false;
    std::vector<std::string> held;
    // The structured document's sentences, once the plan has read it: the conversion renders
    // them, and does not read the document again.
    std::optional<PlannedSentences> sentences;
    // Where the plan's reading of the document settles the voice by its script: what is to be
    // decided, and, once read, what was.
    std::optional<ScriptDecides> scriptDecides;
    std::optional<ScriptVoice> scriptVoice;
};

// The chapters the conversion will find, from the opened input: a plain text read through
// (and rewound), a structured document read once with no engine, its sentences kept in the
// input for the conversion. Throws FileError when the
// request's chapter selection names none of them.
ChapterPlan planChapters(const ConversionRequest& request, ConversionPlan::Input& input,
                         const std::atomic<bool>* cancel);

// What the document says of itself, adopted as PlanChoices tells (adoptMetadata set).
void adoptDocumentMetadata(ConversionRequest& request, const DocumentMetadata& metadata,
                           const VoiceRegistry* voiceByLanguage);

} // namespace kestrova::speech

#include "speech/text/speech_script_builder.h"

#include <utility>

namespace kestrova::speech {

namespace {

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isBoundary(const SpeechItem& item) {
    const auto* pause = std::get_if<SpeechBreak>(&item);
    return pause != nullptr && pause->kind != SpeechBreak::Kind::Explicit;
}

} // namespace

void SpeechScriptBuilder::addText(std::string_view text, const std::string& voiceName,
                                  const Prosody& prosody) {
    for (const char c : text) {
        if (isXmlSpace(c)) {
            spacePending_ = runOpen_;
            continue;
        }
        if (runOpen_ && (run_.voiceName != voiceName || run_.prosody != prosody))
            closeRun();
        if (!runOpen_) {
            run_ = SpeechRun{{}, voiceName, prosody};
            runOpen_ = true;
        } else if (spacePending_) {
            run_.text.push_back(' ');
        }
        spacePending_ = false;
        run_.text.push_back(c);
    }
}

void SpeechScriptBuilder::addBoundary(SpeechBreak::Kind kind) {
    closeRun();
    if (!anyRun_)
        return;
    if (!script_.empty() && std::holds_alternative<SpeechBreak>(script_.back())) {
        auto& last = std::get<SpeechBreak>(script_.back());
        if (last.kind == SpeechBreak::Kind::Sentence && kind == SpeechBreak::Kind::Paragraph)
            last.kind = kind;
        return;
    }
    script_.emplace_back(SpeechBreak{kind, 0});
}

void SpeechScriptBuilder::addPause(int milliseconds) {
    closeRun();
    const SpeechBreak pause{SpeechBreak::Kind::Explicit, milliseconds};
    if (!script_.empty() && isBoundary(script_.back()))
        script_.back() = pause;
    else
        script_.emplace_back(pause);
}

void SpeechScriptBuilder::addMark(std::string name) {
    closeRun();
    script_.emplace_back(SpeechMark{std::move(name)});
}

SpeechScript SpeechScriptBuilder::finish() {
    closeRun();
    while (!script_.empty() && isBoundary(script_.back()))
        script_.pop_back();
    return std::move(script_);
}

void SpeechScriptBuilder::closeRun() {
    spacePending_ = false;
    if (!runOpen_)
        return;
    runOpen_ = false;
    anyRun_ = true;
    script_.emplace_back(std::move(run_));
}

} // namespace kestrova::speech

#include "speech/text/script/speech_script_builder.h"

#include <utility>
#include <variant>
#include <vector>

namespace kestrova::speech {

namespace {

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isBoundary(const SpeechBreak& pause) {
    return pause.kind != SpeechBreak::Kind::Explicit;
}

} // namespace

void SpeechScriptBuilder::addText(std::string_view text, const std::string& voiceName,
                                  const Prosody& prosody, const std::string& language) {
    for (const char c : text) {
        if (isXmlSpace(c)) {
            spacePending_ = runOpen_;
            spaceSinceText_ = true;
            continue;
        }
        if (runOpen_ &&
            (run_.voiceName != voiceName || run_.prosody != prosody || run_.language != language))
            closeRun();
        if (!runOpen_) {
            run_ = SpeechRun{.text = {},
                             .voiceName = voiceName,
                             .prosody = prosody,
                             .language = language,
                             .spaceBefore = spaceSinceText_};
            runOpen_ = true;
        } else if (spacePending_) {
            run_.text.push_back(' ');
        }
        spacePending_ = false;
        spaceSinceText_ = false;
        run_.text.push_back(c);
    }
}

void SpeechScriptBuilder::addBoundary(SpeechBreak::Kind kind) {
    closeRun();
    if (!anyRun_)
        return;
    if (SpeechBreak* last = lastBreak()) {
        // Ends in a row are the stronger one; a pause just before an end stands at it.
        const auto stronger = [kind](SpeechBreak::Kind was) {
            return was == SpeechBreak::Kind::Paragraph ? was : kind;
        };
        if (isBoundary(*last))
            last->kind = stronger(last->kind);
        else
            last->ends = last->ends ? stronger(*last->ends) : kind;
        return;
    }
    script_.emplace_back(SpeechBreak{.kind = kind, .milliseconds = 0, .ends = std::nullopt});
}

void SpeechScriptBuilder::addPause(int milliseconds) {
    closeRun();
    SpeechBreak pause{
        .kind = SpeechBreak::Kind::Explicit, .milliseconds = milliseconds, .ends = std::nullopt};
    if (SpeechBreak* last = lastBreak(); last != nullptr && isBoundary(*last)) {
        pause.ends = last->kind;
        *last = pause;
    } else {
        script_.emplace_back(pause);
    }
}

void SpeechScriptBuilder::addMark(std::string name) {
    closeRun();
    script_.emplace_back(SpeechMark{std::move(name)});
}

SpeechScript SpeechScriptBuilder::finish() {
    closeRun();
    if (SpeechBreak* last = lastBreak(); last != nullptr && isBoundary(*last))
        std::erase_if(script_, [last](const SpeechItem& item) {
            return std::get_if<SpeechBreak>(&item) == last;
        });
    return std::move(script_);
}

SpeechBreak* SpeechScriptBuilder::lastBreak() {
    for (auto item = script_.rbegin(); item != script_.rend(); ++item)
        if (!std::holds_alternative<SpeechMark>(*item))
            return std::get_if<SpeechBreak>(&*item);
    return nullptr;
}

void SpeechScriptBuilder::closeRun() {
    spacePending_ = false;
    if (!runOpen_)
        return;
    runOpen_ = false;
    anyRun_ = true;
    run_.text.shrink_to_fit(); // grown by doubling: held to its length while the script lasts
    script_.emplace_back(std::move(run_));
}

} // namespace kestrova::speech

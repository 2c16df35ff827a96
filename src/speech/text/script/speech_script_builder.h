#pragma once

#include "speech/text/script/speech_script.h"

#include <string>
#include <string_view>

namespace kestrova::speech {

// Collects text, breaks and marks into a script: white space collapses, adjacent text of one
// voice and prosody becomes one run, and sentence and paragraph ends fall only between runs.
class SpeechScriptBuilder {
public:
    void addText(std::string_view text, const std::string& voiceName, const Prosody& prosody,
                 const std::string& language = {});
    // A sentence or paragraph end: two in a row (marks between them or not) become the stronger
    // one, none follows a pause; none before the first run, none after the last.
    void addBoundary(SpeechBreak::Kind kind);
    // A pause of its own length; at a sentence or paragraph end it replaces that end's pause.
    void addPause(int milliseconds);
    void addMark(std::string name);

    SpeechScript finish();
    // The runs, breaks and marks so far.
    std::size_t size() const { return script_.size() + (runOpen_ ? 1 : 0); }

private:
    void closeRun();
    // The break last added, if only marks follow it.
    SpeechBreak* lastBreak();

    SpeechScript script_;
    SpeechRun run_;
    bool runOpen_ = false;
    bool spacePending_ = false;
    bool spaceSinceText_ = false; // white space since the last text, across runs
    bool anyRun_ = false;
};

} // namespace kestrova::speech

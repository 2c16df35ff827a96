#pragma once

#include "speech/engines/command/private_folder.h"
#include "speech/engines/synthesizer.h"
#include "speech/voice.h"

#include <optional>

namespace kestrova::speech {

// A voice command as a synthesizer: each chunk's text through one run of the command. Its
// rate is the one the command's first run showed (Voice::nativeRate, commandVoice), and a
// chunk's sound at another is a failure, never resampled unheard. The command has no rate or
// pitch of ours to take: the prosody is its own.
class CommandSynthesizer : public Synthesizer {
public:
    explicit CommandSynthesizer(const Voice& voice);
    int sampleRate() const override { return rate_; }
    void synthesize(const std::string& text, const SampleSink& sink) override;
    void setProsody(double, double) override {}
    void release() override { folder_.reset(); }

private:
    VoiceCommand command_;
    int rate_;
    // The folder of {text} and {wav}, made with the first chunk and kept for the others.
    std::optional<PrivateFolder> folder_;
};

} // namespace kestrova::speech

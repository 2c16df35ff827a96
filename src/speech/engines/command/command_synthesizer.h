#pragma once

#include "speech/engines/synthesizer.h"
#include "speech/voice.h"

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

private:
    VoiceCommand command_;
    int rate_;
};

} // namespace kestrova::speech

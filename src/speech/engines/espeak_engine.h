#pragma once

#include "speech/engines/synthesizer.h"
#include "speech/voice.h"

#include <mutex>
#include <string>
#include <vector>

namespace kestrova::speech {

// eSpeak NG's own units for how fast and how high a voice speaks.
struct EspeakProsody {
    int wordsPerMinute;
    int pitch; // 0 to 100, 50 being the voice's own
};

// eSpeak NG keeps one synthesizer per process: this is the owner of that process-wide
// state, initialized on first use and terminated at exit. Calls are serialized.
class EspeakEngine {
public:
    static EspeakEngine& instance();

    EspeakEngine(const EspeakEngine&) = delete;
    EspeakEngine& operator=(const EspeakEngine&) = delete;

    std::vector<Voice> voices();
    void synthesize(const std::string& engineVoice, const EspeakProsody& prosody,
                    const std::string& text, const SampleSink& sink);
    int sampleRate() const { return sampleRate_; }
    // What eSpeak NG speaks with when nothing is asked.
    EspeakProsody defaultProsody() const { return defaultProsody_; }
    // The settings nearest to speaking at rate and pitch times the voice's own, as measured.
    EspeakProsody prosodyFor(double rate, double pitch) const;

private:
    EspeakEngine();
    ~EspeakEngine();
    void selectVoice(const std::string& engineVoice);

    std::mutex mutex_;
    int sampleRate_ = 0;
    EspeakProsody defaultProsody_{};
    std::string currentVoice_;
};

class EspeakSynthesizer : public Synthesizer {
public:
    explicit EspeakSynthesizer(const Voice& voice);
    int sampleRate() const override;
    void synthesize(const std::string& text, const SampleSink& sink) override;
    void setProsody(double rate, double pitch) override;

private:
    std::string engineVoice_;
    EspeakProsody prosody_;
};

} // namespace kestrova::speech

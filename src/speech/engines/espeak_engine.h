#pragma once

#include "speech/engines/synthesizer.h"
#include "speech/voice.h"

#include <mutex>
#include <string>
#include <vector>

namespace kestrova::speech {

// eSpeak NG keeps one synthesizer per process: this is the owner of that process-wide
// state, initialized on first use and terminated at exit. Calls are serialized.
class EspeakEngine {
public:
    static EspeakEngine& instance();

    EspeakEngine(const EspeakEngine&) = delete;
    EspeakEngine& operator=(const EspeakEngine&) = delete;

    std::vector<Voice> voices();
    void synthesize(const std::string& engineVoice, const std::string& text,
                    const SampleSink& sink);
    int sampleRate() const { return sampleRate_; }

private:
    EspeakEngine();
    ~EspeakEngine();
    void selectVoice(const std::string& engineVoice);

    std::mutex mutex_;
    int sampleRate_ = 0;
    std::string currentVoice_;
};

class EspeakSynthesizer : public Synthesizer {
public:
    explicit EspeakSynthesizer(const Voice& voice);
    int sampleRate() const override;
    void synthesize(const std::string& text, const SampleSink& sink) override;

private:
    std::string engineVoice_;
};

} // namespace kestrova::speech

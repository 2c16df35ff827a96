#pragma once

#include "speech/engines/synthesizer.h"
#include "speech/voice.h"

#include <memory>
#include <mutex>
#include <vector>

struct cst_voice_struct;

namespace kestrova::speech {

// How fast and how high a Flite voice speaks, relative to its own: 1 and 1 change nothing.
struct FliteProsody {
    double rate = 1;
    double pitch = 1;
};

// Flite's built-in voices, registered once per process and unregistered at exit.
class FliteEngine {
public:
    static FliteEngine& instance();

    FliteEngine(const FliteEngine&) = delete;
    FliteEngine& operator=(const FliteEngine&) = delete;

    std::vector<Voice> voices() const;
    void synthesize(const std::string& engineVoice, const FliteProsody& prosody,
                    const std::string& text, const SampleSink& sink);
    int sampleRate(const std::string& engineVoice) const;

private:
    struct BuiltInVoice;
    FliteEngine();
    ~FliteEngine();
    const BuiltInVoice& voice(const std::string& engineVoice) const;

    std::vector<BuiltInVoice> voices_;
    std::mutex mutex_;
};

class FliteSynthesizer : public Synthesizer {
public:
    explicit FliteSynthesizer(const Voice& voice);
    int sampleRate() const override { return sampleRate_; }
    void synthesize(const std::string& text, const SampleSink& sink) override;
    void setProsody(double rate, double pitch) override;

private:
    std::string engineVoice_;
    int sampleRate_;
    FliteProsody prosody_;
};

// Flite's lexicon is ASCII: other letters are transliterated (é to e), and what has no
// ASCII form becomes a space.
std::string asciiForFlite(std::string_view utf8);

} // namespace kestrova::speech

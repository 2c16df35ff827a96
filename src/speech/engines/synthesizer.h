#pragma once

#include "speech/voice.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace kestrova::speech {

using SampleSink = std::function<void(std::span<const std::int16_t>)>;

// One voice of one engine, ready to render text into mono 16-bit samples at its own rate.
class Synthesizer {
public:
    virtual ~Synthesizer() = default;
    virtual int sampleRate() const = 0;
    // Renders one chunk of UTF-8 text, handing the samples to sink as they come.
    virtual void synthesize(const std::string& text, const SampleSink& sink) = 0;
    // Speaking rate and pitch relative to the voice's own: 1 changes nothing, 2 speaks twice
    // as fast / an octave higher. Takes effect from the next synthesize(). Values outside what
    // the engine can reach are taken as the nearest it can.
    virtual void setProsody(double rate, double pitch) = 0;
    // What it holds outside this process for the chunks to come (a voice command's folder),
    // let go before the process ends without running destructors.
    virtual void release() {}
};

std::unique_ptr<Synthesizer> makeSynthesizer(const Voice& voice);

} // namespace kestrova::speech

#pragma once

#include "speech/converter.h"

#include <cstdint>
#include <ebur128.h>
#include <memory>
#include <span>

namespace kestrova::speech {

// The integrated loudness (EBU R 128, gated) and the true peak (4 times oversampled) of a
// mono sound, as libebur128 measures them, over every sample added. Written as stereo, the
// same samples in both channels, the sound counts twice (3 LU louder), as any meter reads it.
class LoudnessMeter {
public:
    // Without the true peak (reported as 0 dBTP), measuring is four times faster.
    LoudnessMeter(int sampleRate, bool writtenAsStereo, bool truePeak = true);

    void add(std::span<const std::int16_t> samples);
    // The mean square of the K-weighted samples of the last 400 ms, in libebur128's units
    // (full scale 1, a dual mono channel counted twice).
    double momentaryEnergy() const;
    // -inf for either when nothing audible was added.
    LoudnessMeasure measure() const;

private:
    struct Deleter {
        void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
    };
    std::unique_ptr<ebur128_state, Deleter> state_;
};

// 10^(dB/20) and back.
double gainOfDecibels(double decibels);
double decibelsOfGain(double gain);

} // namespace kestrova::speech

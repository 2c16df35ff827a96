#include "loudness_meter.h"

#include "speech/speech_error.h"

#include <cmath>
#include <limits>

namespace kestrova::speech {

LoudnessMeter::LoudnessMeter(int sampleRate, bool writtenAsStereo, bool truePeak)
    : state_(ebur128_init(1, static_cast<unsigned long>(sampleRate),
                          EBUR128_MODE_I | (truePeak ? EBUR128_MODE_TRUE_PEAK : 0))) {
    if (!state_)
        throw SpeechError("cannot measure the loudness: out of memory");
    if (writtenAsStereo)
        ebur128_set_channel(state_.get(), 0, EBUR128_DUAL_MONO);
}

void LoudnessMeter::add(std::span<const std::int16_t> samples) {
    if (samples.empty())
        return;
    if (ebur128_add_frames_short(state_.get(), samples.data(), samples.size()) != EBUR128_SUCCESS)
        throw SpeechError("cannot measure the loudness: out of memory");
}

double LoudnessMeter::momentaryEnergy() const {
    double loudness = 0;
    if (ebur128_loudness_momentary(state_.get(), &loudness) != EBUR128_SUCCESS ||
        !std::isfinite(loudness))
        return 0;
    return std::pow(10.0, (loudness + 0.691) / 10.0); // BS.1770: L = -0.691 + 10 log10(E)
}

LoudnessMeasure LoudnessMeter::measure() const {
    constexpr double none = -std::numeric_limits<double>::infinity();
    double integrated = none;
    double peak = 0;
    if (ebur128_loudness_global(state_.get(), &integrated) != EBUR128_SUCCESS)
        integrated = none;
    if (ebur128_true_peak(state_.get(), 0, &peak) != EBUR128_SUCCESS)
        peak = 1; // not measured
    return {.integratedLufs = integrated, .truePeakDbtp = peak > 0 ? decibelsOfGain(peak) : none};
}

double gainOfDecibels(double decibels) {
    return std::pow(10.0, decibels / 20.0);
}

double decibelsOfGain(double gain) {
    return 20.0 * std::log10(gain);
}

} // namespace kestrova::speech

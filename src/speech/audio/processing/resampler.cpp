#include "resampler.h"

#include "speech/speech_error.h"

#include <soxr.h>
#include <string>

namespace kestrova::speech {
namespace {

void check(soxr_error_t error, const char* what) {
    if (error)
        throw SpeechError(std::string("libsoxr: ") + what + ": " + error);
}

} // namespace

void Resampler::Deleter::operator()(soxr* resampler) const {
    soxr_delete(resampler);
}

Resampler::Resampler(int inputRate, int outputRate)
    : ratio_(static_cast<double>(outputRate) / inputRate) {
    // No dither: the output is the same for the same input, run after run.
    soxr_io_spec_t plainIo = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    plainIo.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_16_BITQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    resampler_.reset(soxr_create(inputRate, outputRate, 1, &error, &plainIo, &quality, &runtime));
    check(error, "cannot create a resampler");
}

Resampler::~Resampler() = default;
Resampler::Resampler(Resampler&&) noexcept = default;
Resampler& Resampler::operator=(Resampler&&) noexcept = default;

std::span<const std::int16_t> Resampler::process(std::span<const std::int16_t> input) {
    return run(input.data(), input.size());
}

std::span<const std::int16_t> Resampler::flush() {
    return run(nullptr, 0);
}

std::span<const std::int16_t> Resampler::run(const std::int16_t* input, std::size_t length) {
    output_.clear();
    std::size_t consumed = 0;
    do {
        const std::size_t produced = output_.size();
        const std::size_t room = static_cast<std::size_t>((length - consumed) * ratio_) + 1024;
        output_.resize(produced + room);
        std::size_t inputDone = 0;
        std::size_t outputDone = 0;
        check(soxr_process(resampler_.get(), input ? input + consumed : nullptr, length - consumed,
                           &inputDone, output_.data() + produced, room, &outputDone),
              "resampling failed");
        consumed += inputDone;
        output_.resize(produced + outputDone);
        // Flushing: go on while the filter still fills whole buffers.
        if (!input && outputDone < room)
            break;
    } while (consumed < length || !input);
    return output_;
}

} // namespace kestrova::speech

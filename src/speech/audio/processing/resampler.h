#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct soxr;

namespace kestrova::speech {

// A streaming libsoxr resampler for mono 16-bit samples.
class Resampler {
public:
    Resampler(int inputRate, int outputRate);
    ~Resampler();
    Resampler(Resampler&&) noexcept;
    Resampler& operator=(Resampler&&) noexcept;

    // Resamples input; the returned samples stay valid until the next call.
    std::span<const std::int16_t> process(std::span<const std::int16_t> input);
    // Drains what the filter still holds once the input has ended.
    std::span<const std::int16_t> flush();

private:
    std::span<const std::int16_t> run(const std::int16_t* input, std::size_t length);

    struct Deleter {
        void operator()(soxr* resampler) const;
    };
    std::unique_ptr<soxr, Deleter> resampler_;
    double ratio_;
    std::vector<std::int16_t> output_;
};

} // namespace kestrova::speech

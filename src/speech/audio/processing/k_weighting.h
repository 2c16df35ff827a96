#pragma once

#include <cmath>
#include <numbers>

namespace kestrova::speech {

// BS.1770's K-weighting, a high shelf and a high pass, with the coefficients libebur128
// derives for any sample rate, in transposed direct form II.
class KWeighting {
public:
    explicit KWeighting(int sampleRate) {
        double k = std::tan(std::numbers::pi * 1681.974450955533 / sampleRate);
        const double q = 0.7071752369554196;
        const double vh = std::pow(10.0, 3.999843853973347 / 20.0);
        const double vb = std::pow(vh, 0.4996667741545416);
        double a0 = 1.0 + k / q + k * k;
        shelf_ = {.b0 = (vh + vb * k / q + k * k) / a0,
                  .b1 = 2.0 * (k * k - vh) / a0,
                  .b2 = (vh - vb * k / q + k * k) / a0,
                  .a1 = 2.0 * (k * k - 1.0) / a0,
                  .a2 = (1.0 - k / q + k * k) / a0};
        k = std::tan(std::numbers::pi * 38.13547087602444 / sampleRate);
        const double passQ = 0.5003270373238773;
        a0 = 1.0 + k / passQ + k * k;
        pass_ = {.b0 = 1.0,
                 .b1 = -2.0,
                 .b2 = 1.0,
                 .a1 = 2.0 * (k * k - 1.0) / a0,
                 .a2 = (1.0 - k / passQ + k * k) / a0};
    }

    double operator()(double x) { return pass_(shelf_(x)); }

private:
    struct Biquad {
        double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double z1 = 0, z2 = 0; // the filter's state
        double operator()(double x) {
            const double y = b0 * x + z1;
            z1 = b1 * x - a1 * y + z2;
            z2 = b2 * x - a2 * y;
            return y;
        }
    };
    Biquad shelf_{};
    Biquad pass_{};
};

} // namespace kestrova::speech

#include "speech/text/readers/ssml/ssml_values.h"

#include "speech/ascii.h"
#include "speech/base/utf8.h"
#include "speech/voice_controls.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>

namespace kestrova::speech::ssml {

namespace {

struct NamedValue {
    std::string_view name;
    double value;
};

template <std::size_t Count>
std::optional<double> namedValue(const NamedValue (&table)[Count], std::string_view text) {
    for (const NamedValue& entry : table)
        if (entry.name == text)
            return entry.value;
    return std::nullopt;
}

double decibels(double gain) {
    return std::pow(10.0, gain / 20.0);
}

// The named values are levels of the voice's own (they replace the enclosing value); numbers
// are changes of the enclosing value.
const NamedValue namedRates[] = {{"x-slow", 0.5}, {"slow", 0.75},  {"medium", 1.0},
                                 {"fast", 1.5},   {"x-fast", 2.0}, {"default", 1.0}};
const NamedValue namedPitches[] = {{"x-low", 0.7}, {"low", 0.85},   {"medium", 1.0},
                                   {"high", 1.2},  {"x-high", 1.4}, {"default", 1.0}};
const NamedValue namedVolumes[] = {
    {"silent", 0.0},       {"x-soft", decibels(-12)}, {"soft", decibels(-6)}, {"medium", 1.0},
    {"loud", decibels(6)}, {"x-loud", decibels(12)},  {"default", 1.0}};

// "150%" is 1.5 times, "+20%" and "-10%" change by that part.
std::optional<double> percentageFactor(const Quantity& quantity) {
    if (quantity.unit != "%")
        return std::nullopt;
    return quantity.signedChange ? 1.0 + quantity.value / 100.0 : quantity.value / 100.0;
}

// A prosody attribute's value: a named level, a percentage, or the attribute's own unit,
// which ownUnit turns into a factor of the enclosing value.
template <std::size_t Count>
std::optional<double> prosodyValue(std::string_view text, double enclosing,
                                   const NamedValue (&named)[Count],
                                   std::optional<double> (*ownUnit)(const Quantity&)) {
    if (const auto level = namedValue(named, trimmed(text)))
        return level;
    const auto quantity = quantityOf(text);
    if (!quantity)
        return std::nullopt;
    auto factor = percentageFactor(*quantity);
    if (!factor)
        factor = ownUnit(*quantity);
    return factor ? std::optional<double>(enclosing * *factor) : std::nullopt;
}

struct Emphasis {
    std::string_view level;
    Prosody change;
};
const Emphasis emphases[] = {{"strong", {.rate = 0.9, .pitch = 1.1, .volume = 1.4}},
                             {"moderate", {.rate = 0.95, .pitch = 1.05, .volume = 1.2}},
                             {"none", {.rate = 1.0, .pitch = 1.0, .volume = 1.0}},
                             {"reduced", {.rate = 1.05, .pitch = 0.95, .volume = 0.8}}};

struct NamedPause {
    std::string_view strength;
    int milliseconds;
};
const NamedPause pauseStrengths[] = {{"none", 0},     {"x-weak", 100}, {"weak", 200},
                                     {"medium", 400}, {"strong", 700}, {"x-strong", 1200}};

} // namespace

std::optional<Quantity> quantityOf(std::string_view text) {
    text = trimmed(text);
    Quantity quantity;
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        quantity.signedChange = true;
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const auto isDigit = [](char c) {
        return c >= '0' && c <= '9';
    };
    std::size_t end = 0;
    std::size_t digits = 0;
    while (end < text.size() && isDigit(text[end]))
        ++end, ++digits;
    if (end < text.size() && text[end] == '.') {
        ++end;
        while (end < text.size() && isDigit(text[end]))
            ++end, ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    double value = 0;
    const auto [stop, failure] = std::from_chars(text.data(), text.data() + end, value);
    if (failure != std::errc{} || stop != text.data() + end || !std::isfinite(value))
        return std::nullopt;
    quantity.value = negative ? -value : value;
    quantity.unit = text.substr(end);
    return quantity;
}

std::optional<double> rateOf(std::string_view text, double enclosing) {
    return prosodyValue(text, enclosing, namedRates, [](const Quantity& quantity) {
        // a plain multiplier
        return quantity.unit.empty() && !quantity.signedChange
                   ? std::optional<double>(quantity.value)
                   : std::nullopt;
    });
}

std::optional<double> pitchOf(std::string_view text, double enclosing) {
    return prosodyValue(text, enclosing, namedPitches, [](const Quantity& quantity) {
        return equalsIgnoringAsciiCase(quantity.unit, "st")
                   ? std::optional<double>(std::exp2(quantity.value / 12.0))
                   : std::nullopt;
    });
}

std::optional<double> volumeOf(std::string_view text, double enclosing) {
    return prosodyValue(text, enclosing, namedVolumes, [](const Quantity& quantity) {
        return equalsIgnoringAsciiCase(quantity.unit, "dB")
                   ? std::optional<double>(decibels(quantity.value))
                   : std::nullopt;
    });
}

Prosody clamped(Prosody prosody) {
    prosody.rate = rateRange.clamped(prosody.rate);
    prosody.pitch = pitchRange.clamped(prosody.pitch);
    prosody.volume = volumeRange.clamped(prosody.volume);
    return prosody;
}

std::optional<Prosody> emphasisChange(std::string_view level) {
    for (const Emphasis& emphasis : emphases)
        if (emphasis.level == level)
            return emphasis.change;
    return std::nullopt;
}

std::optional<int> namedPauseMilliseconds(std::string_view strength) {
    for (const NamedPause& pause : pauseStrengths)
        if (pause.strength == strength)
            return pause.milliseconds;
    return std::nullopt;
}

std::optional<double> breakTimeMilliseconds(std::string_view time) {
    const auto quantity = quantityOf(time);
    if (!quantity || quantity->signedChange)
        return std::nullopt;
    if (equalsIgnoringAsciiCase(quantity->unit, "ms"))
        return quantity->value;
    if (equalsIgnoringAsciiCase(quantity->unit, "s"))
        return quantity->value * 1000.0;
    return std::nullopt;
}

std::string spacedCharacters(std::string_view text) {
    std::string spaced;
    for (const char c : text) {
        if (isXmlSpace(c))
            continue;
        if (!isContinuationByte(c) && !spaced.empty())
            spaced.push_back(' ');
        spaced.push_back(c);
    }
    return spaced;
}

} // namespace kestrova::speech::ssml

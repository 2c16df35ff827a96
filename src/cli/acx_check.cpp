#include "acx_check.h"

#include "convert_options.h"
#include "speech/quoted_name.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sndfile.h>

namespace kestrova::cli {
namespace {

// Below this a sample is room tone, not speech: -60 dBFS.
constexpr double roomToneLevel = 0.001;

struct SoundLevels {
    int sampleRate = 0;
    int channels = 0;
    int majorFormat = 0;
    double rmsDb = -INFINITY;
    double peakDb = -INFINITY;
    double headSeconds = 0; // room tone before the first louder sample
    double tailSeconds = 0; // and after the last
    int bitrateKbps = 0;    // constant, as its first frame says
};

double decibels(double amplitude) {
    return amplitude > 0 ? 20 * std::log10(amplitude) : -INFINITY;
}

// The whole file decoded, in blocks: its level, peak and the quiet at each end.
SoundLevels measured(SNDFILE* sound, const SF_INFO& info) {
    SoundLevels levels{.sampleRate = info.samplerate,
                       .channels = info.channels,
                       .majorFormat = info.format & SF_FORMAT_TYPEMASK};
    std::vector<double> block(8192 * static_cast<std::size_t>(std::max(info.channels, 1)));
    double squares = 0, peak = 0;
    std::uint64_t samples = 0;
    std::optional<std::uint64_t> firstLoud, lastLoud;
    for (sf_count_t read;
         (read = sf_read_double(sound, block.data(), static_cast<sf_count_t>(block.size()))) > 0;) {
        for (sf_count_t index = 0; index < read; ++index, ++samples) {
            const double magnitude = std::abs(block[static_cast<std::size_t>(index)]);
            squares += magnitude * magnitude;
            peak = std::max(peak, magnitude);
            if (magnitude > roomToneLevel) {
                firstLoud = firstLoud.value_or(samples);
                lastLoud = samples;
            }
        }
    }
    const double perSecond = static_cast<double>(info.samplerate) * std::max(info.channels, 1);
    if (samples > 0)
        levels.rmsDb = decibels(std::sqrt(squares / static_cast<double>(samples)));
    levels.peakDb = decibels(peak);
    levels.headSeconds = static_cast<double>(firstLoud.value_or(samples)) / perSecond;
    levels.tailSeconds =
        static_cast<double>(lastLoud ? samples - *lastLoud - 1 : samples) / perSecond;
    return levels;
}

// The bit rate of an MPEG-1 Layer III file's first frame, past its ID3v2 tag, in kb/s; 0
// when it has none, or when its first frame is LAME's Xing header of a variable rate (a
// constant rate's is named Info).
int constantBitrateKbps(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    std::string head(64 * 1024, '\0');
    stream.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(stream.gcount()));
    std::size_t at = 0;
    if (head.size() >= 10 && head.compare(0, 3, "ID3") == 0) {
        at = 10; // and the tag's size, 7 bits in each of 4 bytes
        for (std::size_t index = 6; index < 10; ++index)
            at = at + (static_cast<std::size_t>(head[index] & 0x7f) << (7 * (9 - index)));
    }
    static constexpr std::array<int, 15> layer3Kbps{0,   32,  40,  48,  56,  64,  80, 96,
                                                    112, 128, 160, 192, 224, 256, 320};
    if (at + 200 > head.size() || static_cast<unsigned char>(head[at]) != 0xff ||
        (static_cast<unsigned char>(head[at + 1]) & 0xfe) != 0xfa)
        return 0;
    const unsigned index = static_cast<unsigned char>(head[at + 2]) >> 4;
    if (index >= layer3Kbps.size() || head.find("Xing", at) < at + 200)
        return 0;
    return layer3Kbps[index];
}

std::string numbered(const char* format, double value) {
    char text[96];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::vector<std::string> shortfallsOf(const SoundLevels& levels) {
    std::vector<std::string> misses;
    if (levels.majorFormat != SF_FORMAT_MPEG)
        misses.emplace_back("not an MP3 file");
    else if (levels.bitrateKbps != AcxRules::bitrateKbps)
        misses.emplace_back("not a constant 192 kb/s");
    if (levels.sampleRate != 44100 || levels.channels != 1)
        misses.push_back("not 44.1 kHz mono (" + std::to_string(levels.sampleRate) + " Hz, " +
                         std::to_string(levels.channels) + " channels)");
    if (!(levels.rmsDb >= AcxRules::lowestRmsDb && levels.rmsDb <= AcxRules::highestRmsDb))
        misses.push_back(numbered("RMS %.1f dB, not -23 to -18", levels.rmsDb));
    if (levels.peakDb > AcxRules::highestPeakDb)
        misses.push_back(numbered("peak %.1f dB, above -3", levels.peakDb));
    if (levels.headSeconds < AcxRules::shortestHead || levels.headSeconds > AcxRules::longestHead)
        misses.push_back(
            numbered("%.2f s of room tone at the head, not 0.5 to 1", levels.headSeconds));
    if (levels.tailSeconds < AcxRules::shortestTail || levels.tailSeconds > AcxRules::longestTail)
        misses.push_back(
            numbered("%.2f s of room tone at the tail, not 1 to 5", levels.tailSeconds));
    return misses;
}

} // namespace

std::vector<std::string> acxShortfalls(const std::filesystem::path& file) {
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> sound(sf_open(file.c_str(), SFM_READ, &info),
                                                            &sf_close);
    if (!sound)
        return {std::string("unreadable: ") + sf_strerror(nullptr)};
    SoundLevels levels = measured(sound.get(), info);
    levels.bitrateKbps = constantBitrateKbps(file);
    return shortfallsOf(levels);
}

void summarizeAcx(const std::vector<std::filesystem::path>& files) {
    for (const std::filesystem::path& file : files) {
        const std::vector<std::string> misses = acxShortfalls(file);
        std::string line = "meets the --acx requirements";
        if (!misses.empty()) {
            line = "misses the --acx requirements: ";
            for (std::size_t index = 0; index < misses.size(); ++index)
                line += (index > 0 ? "; " : "") + misses[index];
        }
        const std::string& name = file.native();
        std::fprintf(stderr, "  %s: %s\n",
                     (speech::isPlainName(name) ? name : speech::quotedName(name)).c_str(),
                     line.c_str());
    }
}

} // namespace kestrova::cli

#pragma once

#include <filesystem>
#include <string>

namespace kestrova::speech {

// The PCM output format, numbered as SAPI 5's SpeechAudioFormatType codes 4 to 39.
struct AudioFormat {
    int sampleRate = 22050;
    int bitsPerSample = 16;
    int channels = 1;

    static constexpr int firstPcmCode = 4;
    static constexpr int lastPcmCode = 39;

    // Throws SpeechError for a code outside the PCM family.
    static AudioFormat fromFormatCode(int code);
    int formatCode() const;
    std::string describe() const; // e.g. "22050 Hz 16-bit mono"

    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

// The container written around the samples, chosen by the output file's ending or by name.
// Raw is 16-bit little-endian (8-bit unsigned) PCM without any header.
enum class Container { Wave, Flac, OggVorbis, OggOpus, Mp3, Au, Raw };

// Every container but a wave file can be written into a pipe: a wave file's header, and an
// RF64's, is completed by seeking back to the start once the length is known.
bool canStream(Container container);

// What a file of the container is called in messages: "wave file", "FLAC file", "Opus file"...
const char* soundFileKind(Container container);

// The format the container is written in: the format asked for, but for Opus, which has only
// 8, 12, 16, 24 and 48 kHz, the next rate it has (22.05 kHz gives 24 kHz).
AudioFormat writtenFormat(Container container, const AudioFormat& format);

// ".flac", ".ogg", ".opus" and ".mp3" (any letter case) choose those containers;
// every other name, one without an ending included, gets a wave file.
Container containerForPath(const std::filesystem::path& path);

} // namespace kestrova::speech

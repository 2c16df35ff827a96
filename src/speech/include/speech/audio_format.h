#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

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
enum class Container { Wave, Flac, OggVorbis, OggOpus, Mp3, Au, Raw, M4b };

// The text tags a container's encoder writes as the sound goes: all that a stream of it
// carries, since a stream cannot be edited once written.
enum class StreamTags { None, Utf8, Latin1 };

// What TagLib edits into a complete file of a container once its encoder has written it.
struct TagLibEdits {
    bool textTags = false;
    // TagLib's text tags take the place of the encoder's, which is then given none (LAME's
    // ID3 tag is Latin-1 and would be a second tag); else they go beside them.
    bool replacesEncoderTags = false;
    bool cover = false;
    bool chapters = false;
};

// One row per container: every rule about a container is read from its row, so that a new
// container is one new row (and its writer).
struct ContainerRow {
    Container container;
    const char* typeName;        // as --type names it: "wav"
    const char* ending;          // what a file of it is named with, by default: ".wav"
    bool chosenByEnding;         // an output path with this ending gets it (else a wave file)
    const char* name;            // in messages: "Opus has no 22050 Hz"
    const char* fileKind;        // in messages about a file: "Opus file"
    const char* namedInSentence; // "an Opus file cannot hold tags"
    int sndfileFormat;           // libsndfile's container, the endianness with it
    int sixteenBitEncoding;      // libsndfile's encoding of 16-bit samples
    int eightBitEncoding;        // and of 8-bit samples
    // A wave file's header, and an RF64's, is completed by seeking back to the start once the
    // length is known: it cannot be written into a pipe.
    bool streamable;
    bool holdsTags;
    bool holdsCover;       // in a complete file: a stream cannot be given a picture
    bool holdsChapters;    // chapters inside, as players list them (not cue points)
    StreamTags streamTags; // MP3's are LAME's, Latin-1 only; AU and raw PCM carry none
    TagLibEdits tagLibEdits;
    bool holdsCuePoints;        // chapters as cue points
    const char* cueSheetType;   // the FILE type a cue sheet names it by; null: cannot be named
    std::span<const int> rates; // every rate it is encoded at, rising; empty: any PCM rate
    // Another ending that chooses it as the one above does (none: null); a file is still
    // named with the one above by default.
    const char* otherEnding = nullptr;
    // Written by libsndfile; otherwise by a writer of its own (M4B through FFmpeg).
    bool bySndfile = true;
    // The least sound a file of it holds, in milliseconds: a conversion without a sample is
    // given that much silence where a file of no samples would not be one its readers take.
    int shortestSoundMs = 0;
};

// Every container, in the order --help lists them.
std::span<const ContainerRow> containerRows();
const ContainerRow& containerRow(Container container);

// The container --type calls NAME (exact letters), if any.
std::optional<Container> containerNamed(std::string_view typeName);

// Every container but a wave file and M4B can be written into a pipe.
bool canStream(Container container);

// Whether the container holds tags: AU and raw PCM do not.
bool holdsTags(Container container);

// Whether the container's encoder keeps something other than the samples themselves (Vorbis,
// Opus, MP3: any encoding but PCM and FLAC's): a decoder may then clip a peak near full scale.
bool isLossy(Container container);

// The frames of silence a file of the container is filled out to when no sample is written
// (its row's shortestSoundMs at the rate given); 0 where a file may hold none.
std::uint64_t shortestSoundFrames(Container container, int sampleRate);

// What a file of the container is called in messages: "wave file", "FLAC file", "Opus file"...
const char* soundFileKind(Container container);

// The format the container is written in: the format asked for, but for a container with
// rates of its own (Opus has only 8, 12, 16, 24 and 48 kHz) the next rate it has (22.05 kHz
// gives 24 kHz).
AudioFormat writtenFormat(Container container, const AudioFormat& format);

// What a stream is written as when no container is chosen and its name chooses none that
// streams: AU, whose header needs no seeking back.
inline constexpr Container streamedByDefault = Container::Au;

// What a stream named NAME is written as: the container chosen, else the one its name chooses
// where that one streams, else streamedByDefault.
Container streamedContainer(std::optional<Container> chosen, const std::filesystem::path& name);

// The container a sound is written in, as far as it is known before the output is opened:
// the one chosen, else AU into standard output, else by the output's ending.
Container writtenContainer(std::optional<Container> chosen, const std::filesystem::path& output,
                           bool toStandardOutput);

// ".flac", ".ogg", ".opus", ".mp3", ".m4b" and ".m4a" (any letter case) choose those containers;
// every other name, one without an ending included, gets a wave file.
Container containerForPath(const std::filesystem::path& path);

// "a, b, c or d": the words joined as a sentence lists them.
std::string listedAs(std::span<const std::string> words, const char* lastJoin);

// The --type names of the containers whose column is true, as a sentence lists them:
// typeNamesWhere(&ContainerRow::holdsTags, "or") is "wav, flac, ogg, opus, mp3 or m4b".
std::string typeNamesWhere(bool ContainerRow::*column, const char* lastJoin);

// The same list in the words of shownBy: namesWhere(&ContainerRow::holdsCover,
// &ContainerRow::name, "and") is "WAV, FLAC, Ogg Vorbis, Opus, MP3 and M4B".
std::string namesWhere(bool ContainerRow::*column, const char* ContainerRow::*shownBy,
                       const char* lastJoin);
std::string namesWhere(const std::function<bool(const ContainerRow&)>& holds,
                       const char* ContainerRow::*shownBy, const char* lastJoin);

} // namespace kestrova::speech

#include "speech/audio_format.h"

#include "speech/ascii.h"
#include "speech/speech_error.h"

#include <algorithm>
#include <array>
#include <sndfile.h>
#include <stdexcept>
#include <vector>

namespace kestrova::speech {
namespace {

// The nine rates of the PCM family, in code order; each rate has four codes:
// 8-bit mono, 8-bit stereo, 16-bit mono, 16-bit stereo.
constexpr std::array pcmRates{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

// Every rate an Opus stream is encoded at, rising.
constexpr std::array opusRates{8000, 12000, 16000, 24000, 48000};

// Where a file cannot hold no sound, it holds a tenth of a second of silence: FLAC counts
// 0 samples as "unknown", libvorbis ends an empty stream on a page of granule position 0
// (which ogginfo reports as a faulty encoder), libsndfile's Opus writer leaves an empty stream
// without its end, LAME writes no MP3 frame at all and the MP4 muxer no track. A tenth of a
// second is more than one frame of any of their encoders at any rate but AAC's at 8 kHz
// (which encodes a short last frame), and too short to hear.
constexpr int silenceOfNoSoundMs = 100;

// A wave file of more than 4 GiB is written as RF64 (SoundFileWriter).
constexpr std::array containerTable{
    ContainerRow{.container = Container::Wave,
                 .typeName = "wav",
                 .ending = ".wav",
                 .chosenByEnding = true,
                 .name = "WAV",
                 .fileKind = "wave file",
                 .namedInSentence = "a WAV file",
                 .sndfileFormat = SF_FORMAT_WAV,
                 .sixteenBitEncoding = SF_FORMAT_PCM_16,
                 .eightBitEncoding = SF_FORMAT_PCM_U8,
                 .streamable = false,
                 .holdsTags = true,
                 .holdsCover = true,
                 .holdsChapters = false,
                 .streamTags = StreamTags::Utf8,
                 .tagLibEdits = {.textTags = true, .cover = true},
                 .holdsCuePoints = true,
                 .cueSheetType = "WAVE",
                 .rates = {}},
    ContainerRow{.container = Container::Au,
                 .typeName = "au",
                 .ending = ".au",
                 .chosenByEnding = false,
                 .name = "AU",
                 .fileKind = "AU file",
                 .namedInSentence = "an AU file",
                 .sndfileFormat = SF_FORMAT_AU,
                 .sixteenBitEncoding = SF_FORMAT_PCM_16,
                 .eightBitEncoding = SF_FORMAT_PCM_S8,
                 .streamable = true,
                 .holdsTags = false,
                 .holdsCover = false,
                 .holdsChapters = false,
                 .streamTags = StreamTags::None,
                 .tagLibEdits = {},
                 .holdsCuePoints = false,
                 .cueSheetType = "WAVE",
                 .rates = {}},
    ContainerRow{.container = Container::Flac,
                 .typeName = "flac",
                 .ending = ".flac",
                 .chosenByEnding = true,
                 .name = "FLAC",
                 .fileKind = "FLAC file",
                 .namedInSentence = "a FLAC file",
                 .sndfileFormat = SF_FORMAT_FLAC,
                 .sixteenBitEncoding = SF_FORMAT_PCM_16,
                 .eightBitEncoding = SF_FORMAT_PCM_S8,
                 .streamable = true,
                 .holdsTags = true,
                 .holdsCover = true,
                 .holdsChapters = true,
                 .streamTags = StreamTags::Utf8,
                 .tagLibEdits = {.cover = true, .chapters = true},
                 .holdsCuePoints = false,
                 .cueSheetType = "WAVE",
                 .rates = {},
                 .shortestSoundMs = silenceOfNoSoundMs},
    ContainerRow{.container = Container::OggVorbis,
                 .typeName = "ogg",
                 .ending = ".ogg",
                 .chosenByEnding = true,
                 .name = "Ogg Vorbis",
                 .fileKind = "Ogg Vorbis file",
                 .namedInSentence = "an Ogg Vorbis file",
                 .sndfileFormat = SF_FORMAT_OGG,
                 .sixteenBitEncoding = SF_FORMAT_VORBIS,
                 .eightBitEncoding = SF_FORMAT_VORBIS,
                 .streamable = true,
                 .holdsTags = true,
                 .holdsCover = true,
                 .holdsChapters = true,
                 .streamTags = StreamTags::Utf8,
                 .tagLibEdits = {.cover = true, .chapters = true},
                 .holdsCuePoints = false,
                 .cueSheetType = "WAVE",
                 .rates = {},
                 .shortestSoundMs = silenceOfNoSoundMs},
    ContainerRow{.container = Container::OggOpus,
                 .typeName = "opus",
                 .ending = ".opus",
                 .chosenByEnding = true,
                 .name = "Opus",
                 .fileKind = "Opus file",
                 .namedInSentence = "an Opus file",
                 .sndfileFormat = SF_FORMAT_OGG,
                 .sixteenBitEncoding = SF_FORMAT_OPUS,
                 .eightBitEncoding = SF_FORMAT_OPUS,
                 .streamable = true,
                 .holdsTags = true,
                 .holdsCover = true,
                 .holdsChapters = true,
                 .streamTags = StreamTags::Utf8,
                 .tagLibEdits = {.cover = true, .chapters = true},
                 .holdsCuePoints = false,
                 .cueSheetType = "WAVE",
                 .rates = opusRates,
                 .shortestSoundMs = silenceOfNoSoundMs},
    ContainerRow{.container = Container::Mp3,
                 .typeName = "mp3",
                 .ending = ".mp3",
                 .chosenByEnding = true,
                 .name = "MP3",
                 .fileKind = "MP3 file",
                 .namedInSentence = "an MP3 file",
                 .sndfileFormat = SF_FORMAT_MPEG,
                 .sixteenBitEncoding = SF_FORMAT_MPEG_LAYER_III,
                 .eightBitEncoding = SF_FORMAT_MPEG_LAYER_III,
                 .streamable = true,
                 .holdsTags = true,
                 .holdsCover = true,
                 .holdsChapters = true,
                 .streamTags = StreamTags::Latin1,
                 .tagLibEdits = {.textTags = true,
                                 .replacesEncoderTags = true,
                                 .cover = true,
                                 .chapters = true},
                 .holdsCuePoints = false,
                 .cueSheetType = "MP3",
                 .rates = {},
                 .shortestSoundMs = silenceOfNoSoundMs},
    // AAC in MP4 (FFmpeg, Mp4AudioWriter): its index goes at the front once the sound is
    // written, which seeks back and reads the file again. Its writer puts in its own tags,
    // cover and chapters as it completes the file: TagLib edits none of them.
    ContainerRow{.container = Container::M4b,
                 .typeName = "m4b",
                 .ending = ".m4b",
                 .chosenByEnding = true,
                 .name = "M4B",
                 .fileKind = "M4B file",
                 .namedInSentence = "an M4B file",
                 .sndfileFormat = 0,
                 .sixteenBitEncoding = 0,
                 .eightBitEncoding = 0,
                 .streamable = false,
                 .holdsTags = true,
                 .holdsCover = true,
                 .holdsChapters = true,
                 .streamTags = StreamTags::Utf8,
                 .tagLibEdits = {},
                 .holdsCuePoints = false,
                 .cueSheetType = "WAVE",
                 .rates = {},
                 .otherEnding = ".m4a",
                 .bySndfile = false,
                 .shortestSoundMs = silenceOfNoSoundMs},
    // A cue sheet cannot name raw PCM: no header says its rate.
    ContainerRow{.container = Container::Raw,
                 .typeName = "raw",
                 .ending = ".raw",
                 .chosenByEnding = false,
                 .name = "raw PCM",
                 .fileKind = "raw PCM file",
                 .namedInSentence = "raw PCM",
                 .sndfileFormat = SF_FORMAT_RAW | SF_ENDIAN_LITTLE,
                 .sixteenBitEncoding = SF_FORMAT_PCM_16,
                 .eightBitEncoding = SF_FORMAT_PCM_U8,
                 .streamable = true,
                 .holdsTags = false,
                 .holdsCover = false,
                 .holdsChapters = false,
                 .streamTags = StreamTags::None,
                 .tagLibEdits = {},
                 .holdsCuePoints = false,
                 .cueSheetType = nullptr,
                 .rates = {}},
};

} // namespace

AudioFormat AudioFormat::fromFormatCode(int code) {
    if (code < firstPcmCode || code > lastPcmCode)
        throw SpeechError("format code " + std::to_string(code) +
                          " is not a PCM format (the PCM codes are 4 to 39)");
    const int index = code - firstPcmCode;
    const int variant = index % 4;
    return AudioFormat{pcmRates[static_cast<std::size_t>(index / 4)], variant < 2 ? 8 : 16,
                       variant % 2 == 0 ? 1 : 2};
}

int AudioFormat::formatCode() const {
    const auto rate = std::find(pcmRates.begin(), pcmRates.end(), sampleRate);
    if (rate == pcmRates.end() || (bitsPerSample != 8 && bitsPerSample != 16) ||
        (channels != 1 && channels != 2))
        throw SpeechError(describe() + " has no format code");
    return firstPcmCode + static_cast<int>(rate - pcmRates.begin()) * 4 +
           (bitsPerSample == 16 ? 2 : 0) + (channels == 2 ? 1 : 0);
}

std::string AudioFormat::describe() const {
    return std::to_string(sampleRate) + " Hz " + std::to_string(bitsPerSample) + "-bit " +
           (channels == 1 ? "mono" : "stereo");
}

bool isLossy(Container container) {
    return containerRow(container).sixteenBitEncoding != SF_FORMAT_PCM_16;
}

Container containerForPath(const std::filesystem::path& path) {
    const std::string ending = lowerCaseEnding(path);
    for (const ContainerRow& row : containerTable)
        if (row.chosenByEnding &&
            (ending == row.ending || (row.otherEnding != nullptr && ending == row.otherEnding)))
            return row.container;
    return Container::Wave;
}

Container writtenContainer(std::optional<Container> chosen, const std::filesystem::path& output,
                           bool toStandardOutput) {
    return chosen.value_or(toStandardOutput ? streamedByDefault : containerForPath(output));
}

Container streamedContainer(std::optional<Container> chosen, const std::filesystem::path& name) {
    const Container byName = containerForPath(name);
    return chosen.value_or(canStream(byName) ? byName : streamedByDefault);
}

std::span<const ContainerRow> containerRows() {
    return containerTable;
}

const ContainerRow& containerRow(Container container) {
    const auto row =
        std::find_if(containerTable.begin(), containerTable.end(),
                     [&](const ContainerRow& row) { return row.container == container; });
    if (row == containerTable.end())
        throw std::logic_error("a container without a row");
    return *row;
}

std::optional<Container> containerNamed(std::string_view typeName) {
    for (const ContainerRow& row : containerTable)
        if (typeName == row.typeName)
            return row.container;
    return std::nullopt;
}

std::uint64_t shortestSoundFrames(Container container, int sampleRate) {
    return static_cast<std::uint64_t>(containerRow(container).shortestSoundMs) *
           static_cast<std::uint64_t>(sampleRate) / 1000;
}

const char* soundFileKind(Container container) {
    return containerRow(container).fileKind;
}

AudioFormat writtenFormat(Container container, const AudioFormat& format) {
    const std::span<const int> rates = containerRow(container).rates;
    if (rates.empty())
        return format;
    const auto rate = std::lower_bound(rates.begin(), rates.end(), format.sampleRate);
    AudioFormat written = format;
    written.sampleRate = rate == rates.end() ? rates.back() : *rate;
    return written;
}

bool canStream(Container container) {
    return containerRow(container).streamable;
}

bool holdsTags(Container container) {
    return containerRow(container).holdsTags;
}

std::string listedAs(std::span<const std::string> words, const char* lastJoin) {
    std::string list;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0)
            list += i + 1 == words.size() ? std::string(" ") + lastJoin + " " : std::string(", ");
        list += words[i];
    }
    return list;
}

std::string typeNamesWhere(bool ContainerRow::*column, const char* lastJoin) {
    return namesWhere(column, &ContainerRow::typeName, lastJoin);
}

std::string namesWhere(bool ContainerRow::*column, const char* ContainerRow::*shownBy,
                       const char* lastJoin) {
    return namesWhere([column](const ContainerRow& row) { return row.*column; }, shownBy, lastJoin);
}

std::string namesWhere(const std::function<bool(const ContainerRow&)>& holds,
                       const char* ContainerRow::*shownBy, const char* lastJoin) {
    std::vector<std::string> names;
    for (const ContainerRow& row : containerTable)
        if (holds(row))
            names.emplace_back(row.*shownBy);
    return listedAs(names, lastJoin);
}

} // namespace kestrova::speech

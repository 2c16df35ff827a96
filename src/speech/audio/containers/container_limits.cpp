#include "container_limits.h"

#include "speech/base/utf8.h"
#include "speech/quoted_name.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kestrova::speech {
namespace {

// A FLAC picture block: its type, the lengths of its media type, description and picture, and
// the picture's four sizes, each in 32 bits, around the media type (the description is empty).
constexpr std::size_t flacPictureFieldBytes = 8 * 4;

// FLAC keeps every tag and every chapter in one comment block of 16 MiB: 8 MiB of tags and
// 999 chapters of 8 KiB each leave room to spare.
constexpr std::size_t flacTagsBytes = std::size_t{8} << 20;
constexpr std::size_t flacChapterTitleBytes = std::size_t{8} << 10;

// libsndfile builds a wave file's INFO chunk and an Opus comment header in a header of at most
// 100 KiB, which takes some 50 KiB of strings: past that it leaves the strings out unsaid.
constexpr std::size_t sndfileHeaderTagsBytes = std::size_t{48} << 10;

// Vorbis comments number their chapters in three digits: ffmpeg reads CHAPTER1000 as a
// hundredth chapter's name, and drops its time.
constexpr std::size_t vorbisCommentChapters = 999;

struct TextTag {
    const char* name;
    std::string* value;
};

// The text tags given, in the order of the list of tags.
std::vector<TextTag> textTagsOf(SoundTags& tags) {
    const std::pair<const char*, std::optional<std::string>*> fields[] = {
        {"title", &tags.title}, {"artist", &tags.artist},    {"album", &tags.album},
        {"genre", &tags.genre}, {"date", &tags.date},        {"comment", &tags.comment},
        {"track", &tags.track}, {"software", &tags.software}};
    std::vector<TextTag> given;
    for (const auto& [name, value] : fields)
        if (*value)
            given.push_back({.name = name, .value = &**value});
    return given;
}

std::string warningAbout(const std::filesystem::path& shownAs, Container container) {
    return quotedName(shownAs.native()) + ": " + containerRow(container).namedInSentence;
}

} // namespace

std::optional<std::size_t> largestCoverBytes(Container container, std::string_view mediaType) {
    if (container == Container::Flac)
        return flacBlockBytes - flacPictureFieldBytes - mediaType.size();
    return std::nullopt;
}

std::optional<std::size_t> largestTagsBytes(Container container) {
    if (container == Container::Flac)
        return flacTagsBytes;
    if (container == Container::Wave || container == Container::OggOpus)
        return sndfileHeaderTagsBytes;
    return std::nullopt;
}

std::optional<std::size_t> largestChapterTitleBytes(Container container) {
    if (container == Container::Flac)
        return flacChapterTitleBytes;
    if (container == Container::M4b)
        return mp4ChapterTitleBytes;
    return std::nullopt;
}

std::optional<std::size_t> mostChapters(Container container) {
    if (container == Container::Flac || container == Container::OggVorbis ||
        container == Container::OggOpus)
        return vorbisCommentChapters;
    if (container == Container::Mp3)
        return id3TableEntries * id3TableEntries;
    return std::nullopt;
}

namespace {

// How many of count chapters the container's readers find, at most.
std::size_t chaptersKept(Container container, std::size_t count,
                         const std::filesystem::path& shownAs,
                         const std::function<void(const std::string&)>& warning) {
    if (container == Container::M4b && count > mp4ListedChapters && warning)
        warning(warningAbout(shownAs, container) + " lists " + std::to_string(mp4ListedChapters) +
                " chapters in its Nero chapter list: chapters " +
                std::to_string(mp4ListedChapters + 1) + " to " + std::to_string(count) +
                " are in its chapter track alone");
    const std::optional<std::size_t> most = mostChapters(container);
    if (!most || count <= *most)
        return count;
    if (warning)
        warning(warningAbout(shownAs, container) + " holds " + std::to_string(*most) +
                " chapters that players find: chapters " + std::to_string(*most + 1) + " to " +
                std::to_string(count) + " are left out of it");
    return *most;
}

bool cutChapterTitle(Container container, std::string& title) {
    const std::optional<std::size_t> largest = largestChapterTitleBytes(container);
    return largest && cutToCharacters(title, *largest);
}

void warnOfCutTitles(Container container, std::size_t cut, const std::filesystem::path& shownAs,
                     const std::function<void(const std::string&)>& warning) {
    if (cut == 0 || !warning)
        return;
    warning(warningAbout(shownAs, container) + " holds chapter titles of at most " +
            std::to_string(largestChapterTitleBytes(container).value_or(0)) + " bytes: " +
            (cut == 1 ? std::string("one title is") : std::to_string(cut) + " titles are") +
            " cut");
}

} // namespace

void fitChapters(Container container, std::vector<ChapterTiming>& chapters,
                 const std::filesystem::path& shownAs,
                 const std::function<void(const std::string&)>& warning) {
    chapters.resize(chaptersKept(container, chapters.size(), shownAs, warning));
    std::size_t cut = 0;
    for (ChapterTiming& chapter : chapters)
        cut += cutChapterTitle(container, chapter.title) ? 1 : 0;
    warnOfCutTitles(container, cut, shownAs, warning);
}

bool cutToCharacters(std::string& text, std::size_t bytes) {
    if (text.size() <= bytes)
        return false;
    text.resize(characterCut(text, bytes));
    return true;
}

SoundTags tagsFittedTo(Container container, SoundTags tags, const std::filesystem::path& shownAs,
                       const std::function<void(const std::string&)>& warning) {
    const auto warn = [&](const std::string& what) {
        if (warning)
            warning(warningAbout(shownAs, container) + what);
    };
    if (tags.cover) {
        const std::optional<std::size_t> largest =
            largestCoverBytes(container, tags.cover->mediaType);
        if (largest && tags.cover->bytes.size() > *largest) {
            warn(" holds a cover of at most " + std::to_string(*largest) + " bytes: the cover of " +
                 std::to_string(tags.cover->bytes.size()) + " bytes is left out");
            tags.cover.reset();
        }
    }
    const std::optional<std::size_t> budget = largestTagsBytes(container);
    if (!budget)
        return tags;
    std::vector<TextTag> texts = textTagsOf(tags);
    // Shortest first, each given at most an even share of what is left.
    std::stable_sort(texts.begin(), texts.end(), [](const TextTag& one, const TextTag& other) {
        return one.value->size() < other.value->size();
    });
    std::size_t left = *budget;
    for (std::size_t index = 0; index < texts.size(); ++index) {
        std::string& value = *texts[index].value;
        const std::size_t bytes = value.size();
        if (cutToCharacters(value, left / (texts.size() - index)))
            warn(" holds at most " + std::to_string(*budget) + " bytes of tags: the " +
                 texts[index].name + " of " + std::to_string(bytes) + " bytes is cut to " +
                 std::to_string(value.size()));
        left -= value.size();
    }
    return tags;
}

} // namespace kestrova::speech

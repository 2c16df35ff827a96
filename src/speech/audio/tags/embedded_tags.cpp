#include "embedded_tags.h"

#include "speech/audio/containers/container_limits.h"
#include "speech/audio/tags/descriptor_stream.h"
#include "speech/file_failures.h"
#include "speech/speech_error.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <taglib/attachedpictureframe.h>
#include <taglib/chapterframe.h>
#include <taglib/commentsframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tableofcontentsframe.h>
#include <taglib/textidentificationframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>
#include <unistd.h>

namespace kestrova::speech {
namespace {

TagLib::String utf8(const std::string& text) {
    return TagLib::String(text, TagLib::String::UTF8);
}

TagLib::ByteVector bytesOf(const std::string& bytes) {
    return TagLib::ByteVector(bytes.data(), static_cast<unsigned int>(bytes.size()));
}

std::uint64_t millisecondsOf(std::uint64_t frame, int sampleRate) {
    return frame * 1000 / static_cast<std::uint64_t>(sampleRate);
}

// TagLib takes frames by pointer and owns them once added.
void addTextFrame(TagLib::ID3v2::Tag& tag, const char* id, const std::optional<std::string>& text) {
    if (!text)
        return;
    auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(TagLib::ByteVector(id),
                                                                          TagLib::String::UTF8);
    frame->setText(utf8(*text));
    tag.addFrame(frame.release());
}

void addId3Cover(TagLib::ID3v2::Tag& tag, const CoverArt& cover) {
    auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
    frame->setTextEncoding(TagLib::String::UTF8);
    frame->setMimeType(cover.mediaType);
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setPicture(bytesOf(cover.bytes));
    tag.addFrame(frame.release());
}

std::unique_ptr<TagLib::ID3v2::TableOfContentsFrame>
tableOfContents(const std::string& id, const TagLib::ByteVectorList& entries, bool topLevel) {
    auto contents = std::make_unique<TagLib::ID3v2::TableOfContentsFrame>(
        TagLib::ByteVector(id.c_str()), entries);
    contents->setIsTopLevel(topLevel);
    contents->setIsOrdered(true);
    return contents;
}

// A table of contents counts its entries in a byte: past that many chapters, the top-level
// table lists tables of that many each, in order.
void addId3Tables(TagLib::ID3v2::Tag& tag, const TagLib::ByteVectorList& chapterIds) {
    if (chapterIds.size() <= id3TableEntries) {
        tag.addFrame(tableOfContents("toc", chapterIds, true).release());
        return;
    }
    TagLib::ByteVectorList tables;
    for (unsigned int first = 0; first < chapterIds.size(); first += id3TableEntries) {
        TagLib::ByteVectorList entries;
        for (unsigned int index = first;
             index < chapterIds.size() && index < first + id3TableEntries; ++index)
            entries.append(chapterIds[index]);
        const std::string id = "toc" + std::to_string(tables.size() + 1);
        tag.addFrame(tableOfContents(id, entries, false).release());
        tables.append(TagLib::ByteVector(id.c_str()));
    }
    tag.addFrame(tableOfContents("toc", tables, true).release());
}

// One CHAP frame per chapter, each titled by a TIT2 frame, and a top-level ordered CTOC
// listing them: the form players and ffmpeg read.
void addId3Chapters(TagLib::ID3v2::Tag& tag, std::span<const ChapterTiming> chapters,
                    int sampleRate) {
    if (chapters.empty())
        return;
    TagLib::ByteVectorList children;
    constexpr unsigned int noOffset = 0xFFFFFFFF; // the times alone place them
    for (std::size_t index = 0; index < chapters.size(); ++index) {
        const ChapterTiming& chapter = chapters[index];
        const std::string name = "chp" + std::to_string(index + 1);
        const TagLib::ByteVector id(name.c_str());
        TagLib::ID3v2::FrameList embedded;
        if (!chapter.title.empty()) {
            auto title = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(
                TagLib::ByteVector("TIT2"), TagLib::String::UTF8);
            title->setText(utf8(chapter.title));
            embedded.append(title.release());
        }
        tag.addFrame(std::make_unique<TagLib::ID3v2::ChapterFrame>(
                         id,
                         static_cast<unsigned int>(millisecondsOf(chapter.startFrame, sampleRate)),
                         static_cast<unsigned int>(millisecondsOf(chapter.endFrame, sampleRate)),
                         noOffset, noOffset, embedded)
                         .release());
        children.append(id);
    }
    addId3Tables(tag, children);
}

void fillId3Tag(TagLib::ID3v2::Tag& tag, const SoundTags& tags,
                std::span<const ChapterTiming> chapters, int sampleRate) {
    addTextFrame(tag, "TIT2", tags.title);
    addTextFrame(tag, "TPE1", tags.artist);
    addTextFrame(tag, "TALB", tags.album);
    addTextFrame(tag, "TCON", tags.genre);
    addTextFrame(tag, "TDRC", tags.date);
    addTextFrame(tag, "TRCK", tags.track);
    addTextFrame(tag, "TSSE", tags.software);
    if (tags.comment) {
        auto frame = std::make_unique<TagLib::ID3v2::CommentsFrame>(TagLib::String::UTF8);
        frame->setLanguage("XXX"); // unknown
        frame->setText(utf8(*tags.comment));
        tag.addFrame(frame.release());
    }
    if (tags.cover)
        addId3Cover(tag, *tags.cover);
    addId3Chapters(tag, chapters, sampleRate);
}

std::unique_ptr<TagLib::FLAC::Picture> flacPicture(const CoverArt& cover) {
    auto picture = std::make_unique<TagLib::FLAC::Picture>();
    picture->setType(TagLib::FLAC::Picture::FrontCover);
    picture->setMimeType(cover.mediaType);
    picture->setData(bytesOf(cover.bytes));
    return picture;
}

// CHAPTER001=00:00:00.000 and CHAPTER001NAME=..., numbered from 1 in order.
void addCommentChapters(TagLib::Ogg::XiphComment& comment, std::span<const ChapterTiming> chapters,
                        int sampleRate) {
    for (std::size_t index = 0; index < chapters.size(); ++index) {
        char key[32];
        std::snprintf(key, sizeof key, "CHAPTER%03zu", index + 1);
        comment.addField(key,
                         chapterTimeText(millisecondsOf(chapters[index].startFrame, sampleRate)));
        if (!chapters[index].title.empty())
            comment.addField(std::string(key) + "NAME", utf8(chapters[index].title));
    }
}

bool saveMp3(DescriptorStream& stream, const SoundTags& tags,
             std::span<const ChapterTiming> chapters, int sampleRate) {
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid())
        return false;
    fillId3Tag(*file.ID3v2Tag(true), tags, chapters, sampleRate);
    return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4,
                     TagLib::File::DoNotDuplicate);
}

// TagLib names its chunk "ID3 "; exiftool reads only "id3 ", which every other reader
// (ffmpeg, mediainfo, mutagen, TagLib itself) takes too.
void lowerId3ChunkName(DescriptorStream& stream) {
    for (long at = 12; stream.error() == 0 && at + 8 <= stream.length();) {
        stream.seek(at);
        const TagLib::ByteVector header = stream.readBlock(8);
        if (header.size() < 8)
            return;
        if (header.mid(0, 4) == "ID3 ") {
            stream.seek(at);
            stream.writeBlock("id3 ");
            return;
        }
        const unsigned int size = header.toUInt(4, false);
        at += 8 + static_cast<long>(size) + static_cast<long>(size & 1);
    }
}

// INFO and the cue chunks stay as they are; the ID3 chunk is added at the end.
bool saveWave(DescriptorStream& stream, const SoundTags& tags,
              const std::filesystem::path& shownAs) {
    TagLib::RIFF::WAV::File file(&stream, false);
    if (!file.isValid())
        return false;
    fillId3Tag(*file.ID3v2Tag(), tags, {}, 1);
    // A plain wave file counts its bytes in 32 bits: near 4 GiB, a cover could wrap the count.
    constexpr long waveLimitBytes = 0xFFFFFFFFL;
    if (stream.length() + static_cast<long>(file.ID3v2Tag()->render().size()) + 16 > waveLimitBytes)
        throw FileError(outputFailure(shownAs,
                                      "its tags would take it past the 4 GiB a wave file "
                                      "holds; choose a lower rate",
                                      soundFileKind(Container::Wave)));
    if (!file.save(TagLib::RIFF::WAV::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4))
        return false;
    lowerId3ChunkName(stream);
    return true;
}

// A block past the 24 bits of its length would be written wrapped, and the file unreadable.
bool saveFlac(DescriptorStream& stream, const SoundTags& tags,
              std::span<const ChapterTiming> chapters, int sampleRate,
              const std::filesystem::path& shownAs) {
    TagLib::FLAC::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid())
        return false;
    addCommentChapters(*file.xiphComment(true), chapters, sampleRate);
    std::unique_ptr<TagLib::FLAC::Picture> picture =
        tags.cover ? flacPicture(*tags.cover) : nullptr;
    if (file.xiphComment()->render(false).size() > flacBlockBytes ||
        (picture && picture->render().size() > flacBlockBytes))
        throw FileError(outputFailure(shownAs,
                                      "its tags, chapters or cover take more than the 16 MiB a "
                                      "FLAC metadata block holds",
                                      soundFileKind(Container::Flac)));
    if (picture)
        file.addPicture(picture.release());
    return file.save();
}

// Ogg Vorbis and Opus: the picture as a METADATA_BLOCK_PICTURE comment.
template <typename OggFile>
bool saveOgg(DescriptorStream& stream, const SoundTags& tags,
             std::span<const ChapterTiming> chapters, int sampleRate) {
    OggFile file(&stream, false);
    if (!file.isValid())
        return false;
    addCommentChapters(*file.tag(), chapters, sampleRate);
    if (tags.cover)
        file.tag()->addPicture(flacPicture(*tags.cover).release());
    return file.save();
}

bool isRf64(int fd) {
    char magic[4] = {};
    return ::pread(fd, magic, sizeof magic, 0) == sizeof magic &&
           std::memcmp(magic, "RF64", sizeof magic) == 0;
}

} // namespace

bool editedThroughTagLibrary(Container container, const SoundTags& tags, bool hasChapters) {
    const TagLibEdits& edits = containerRow(container).tagLibEdits;
    return (edits.textTags && tags.hasText()) || (edits.cover && tags.cover) ||
           (edits.chapters && hasChapters);
}

void writeEmbeddedTags(int fd, Container container, const SoundTags& tags,
                       std::span<const ChapterTiming> chapters, int sampleRate,
                       const std::filesystem::path& shownAs, const std::atomic<bool>* cancel) {
    if (!editedThroughTagLibrary(container, tags, !chapters.empty()))
        return;
    if (container == Container::Wave && isRf64(fd))
        return;
    DescriptorStream stream(fd, cancel);
    bool saved = false;
    if (container == Container::Mp3)
        saved = saveMp3(stream, tags, chapters, sampleRate);
    else if (container == Container::Wave)
        saved = saveWave(stream, tags, shownAs);
    else if (container == Container::Flac)
        saved = saveFlac(stream, tags, chapters, sampleRate, shownAs);
    else if (container == Container::OggVorbis)
        saved = saveOgg<TagLib::Ogg::Vorbis::File>(stream, tags, chapters, sampleRate);
    else if (container == Container::OggOpus)
        saved = saveOgg<TagLib::Ogg::Opus::File>(stream, tags, chapters, sampleRate);
    const char* const fileKind = soundFileKind(container);
    if (stream.error() == ECANCELED)
        throw ConversionCancelled(outputFailure(shownAs, "the conversion was cancelled", fileKind));
    if (stream.error() != 0)
        throw FileError(outputFailure(shownAs, std::strerror(stream.error()), fileKind));
    if (!saved)
        throw FileError(
            outputFailure(shownAs, "its tags and chapters could not be written", fileKind));
}

std::string chapterTimeText(std::uint64_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%02" PRIu64 ":%02" PRIu64 ":%02" PRIu64 ".%03" PRIu64,
                  milliseconds / 3600000, milliseconds / 60000 % 60, milliseconds / 1000 % 60,
                  milliseconds % 1000);
    return text;
}

} // namespace kestrova::speech

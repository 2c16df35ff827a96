#include "speech/conversion/read_along/read_along_book.h"

#include "speech/audio_format.h"
#include "speech/conversion/read_along/book_archive.h"
#include "speech/conversion/read_along/entry_references.h"
#include "speech/conversion/read_along/epub3_upgrade.h"
#include "speech/conversion/read_along/media_overlay.h"
#include "speech/conversion/read_along/narration_pieces.h"
#include "speech/conversion/read_along/package_overlays.h"
#include "speech/conversion/read_along/sentence_spans.h"
#include "speech/file_failures.h"
#include "speech/quoted_name.h"
#include "speech/request_check.h"
#include "speech/speech_error.h"
#include "speech/text/readers/epub/epub_package.h"
#include "speech/text/readers/xml/book_xml.h"

#include <algorithm>
#include <ctime>

namespace kestrova::speech::read_along {
namespace {

// The largest content document taken, as the reader takes them.
constexpr std::uint64_t longestDocument = std::uint64_t{16} << 20;
constexpr std::string_view activeClass = "read-along-active";

std::uint64_t millisecondsOf(std::uint64_t frames, int rate) {
    return (frames * 1000 + static_cast<std::uint64_t>(rate) / 2) /
           static_cast<std::uint64_t>(rate);
}

const char* audioMediaType(Container container) {
    switch (container) {
    case Container::M4b:
        return "audio/mp4";
    case Container::OggOpus:
        return "audio/ogg; codecs=opus";
    default:
        return "audio/mpeg";
    }
}

const char* audioEnding(Container container) {
    switch (container) {
    case Container::M4b:
        return ".m4a";
    case Container::OggOpus:
        return ".opus";
    default:
        return ".mp3";
    }
}

struct PlacedSentence {
    SentencePlace place;
    OverlayClip clip;
};

std::string styleSheet() {
    return "/* The sentence being read aloud. */\n." + std::string(activeClass) +
           " {\n  background-color: #fff0a0;\n  color: #000000;\n}\n";
}

// The last of the sentences from `first` on, in the document's order, that one span can hold
// with it: the first itself where it holds whole elements, else it and the fewest that follow
// (at most a few, none over another) that do together; placed.size() where none do.
std::size_t lastOfSpan(std::string_view document, const std::vector<PlacedSentence>& placed,
                       std::size_t first) {
    constexpr std::size_t mostJoined = 8;
    for (std::size_t last = first; last < placed.size() && last < first + mostJoined; ++last) {
        if (last > first && placed[last].place.begin < placed[last - 1].place.end)
            break;
        if (holdsWholeElements(document, placed[first].place.begin, placed[last].place.end))
            return last;
    }
    return placed.size();
}

std::string sentences(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " sentence" : " sentences");
}

// What became of the sentences across markup, in one warning.
std::string crossingWarning(std::size_t joined, std::size_t unmarked) {
    std::string said;
    if (joined > 0)
        said = sentences(joined) + " across the markup between them highlighted together";
    if (unmarked > 0)
        said += (said.empty() ? "" : "; ") + sentences(unmarked) +
                " across the markup around them read aloud, not highlighted";
    return said;
}

} // namespace

std::vector<DocumentNarration> documentNarrations(const SpeechTimings& timings,
                                                  const std::vector<std::string>& spine) {
    std::vector<DocumentNarration> narrations;
    for (const std::string& entry : spine) {
        DocumentNarration narration{
            .entry = entry, .beginFrame = 0, .endFrame = 0, .sentences = {}};
        for (std::size_t i = 0; i < timings.sentences.size(); ++i)
            if (timings.sentences[i].source == entry && timings.sentences[i].startByte)
                narration.sentences.push_back(i);
        if (narration.sentences.empty())
            continue;
        narration.beginFrame = timings.sentences[narration.sentences.front()].firstFrame;
        narrations.push_back(std::move(narration));
    }
    std::stable_sort(narrations.begin(), narrations.end(),
                     [](const DocumentNarration& a, const DocumentNarration& b) {
                         return a.beginFrame < b.beginFrame;
                     });
    for (std::size_t i = 0; i < narrations.size(); ++i) {
        narrations[i].beginFrame = i == 0 ? 0 : narrations[i].beginFrame;
        narrations[i].endFrame =
            i + 1 < narrations.size() ? narrations[i + 1].beginFrame : timings.frames;
    }
    return narrations;
}

ReadAlongBook::ReadAlongBook(const ConversionRequest& request, PrivateFolder& folder,
                             const std::atomic<bool>* cancel)
    : request_(request), folder_(folder), cancel_(cancel), input_(request.input.path) {
    const auto refuse = [this](const std::string& reason) {
        fail(reason);
    };
    packageEntry_ =
        epub::packageEntryOf(input_.read("META-INF/container.xml", longestDocument), refuse);
    packageXml_ = input_.read(packageEntry_, longestDocument);
    const epub::Package package = epub::readPackage(packageXml_, packageEntry_, refuse);
    upgraded_ = package.majorVersion < 3;
    ncxEntry_ = package.ncxEntry;
    title_ = package.metadata.title;
    language_ = package.metadata.language;
    for (const epub::SpineItem& item : package.spine)
        spine_.push_back(item.entry);
}

void ReadAlongBook::fail(const std::string& reason) const {
    throw FileError(bookFailure(request_.input.path, reason));
}

std::string ReadAlongBook::freeEntry(const std::string& wanted) const {
    const std::size_t dot = wanted.rfind('.');
    std::string entry = wanted;
    for (unsigned n = 2;
         input_.contains(entry) || std::find(added_.begin(), added_.end(), entry) != added_.end();
         ++n)
        entry = wanted.substr(0, dot) + "-" + std::to_string(n) + wanted.substr(dot);
    return entry;
}

void ReadAlongBook::narrate(const DocumentNarration& narration, const SpeechTimings& timings,
                            std::map<std::string, std::string>& replaced, Narration& package,
                            NarrationPieces& pieces) {
    const std::string document = input_.read(narration.entry, longestDocument);
    const std::string prefix = freeIdPrefix(document);
    // Clips in speaking order, each to where the next sentence of the narration begins.
    std::vector<PlacedSentence> placed;
    for (const std::size_t i : narration.sentences) {
        const SentenceTiming& sentence = timings.sentences[i];
        const std::uint64_t next =
            i + 1 < timings.sentences.size() ? timings.sentences[i + 1].firstFrame : timings.frames;
        const std::uint64_t end = std::clamp(next, sentence.firstFrame, narration.endFrame);
        const OverlayClip clip{
            .spanId = {},
            .beginMs =
                millisecondsOf(sentence.firstFrame - narration.beginFrame, timings.sampleRate),
            .endMs = millisecondsOf(end - narration.beginFrame, timings.sampleRate)};
        const SentencePlace place{.begin = static_cast<std::size_t>(*sentence.startByte),
                                  .end = static_cast<std::size_t>(sentence.endByte.value_or(0))};
        if (clip.endMs > clip.beginMs)
            placed.push_back({place, clip});
    }
    // Spans in the document's order, none over another and none across the markup.
    std::stable_sort(placed.begin(), placed.end(),
                     [](const PlacedSentence& a, const PlacedSentence& b) {
                         return a.place.begin < b.place.begin;
                     });
    std::vector<SentencePlace> places;
    std::vector<std::string> ids;
    std::vector<OverlayClip> clips;
    for (std::size_t i = 0; i < placed.size();) {
        const std::size_t last = lastOfSpan(document, placed, i);
        if (last == placed.size() ||
            (!places.empty() && places.back().end > placed[i].place.begin)) {
            ++unmarkedSentences_;
            ++i;
            continue;
        }
        // Sentences across the markup between them share one span and one clip.
        joinedSentences_ += last > i ? last - i + 1 : 0;
        OverlayClip clip = placed[i].clip;
        for (std::size_t k = i; k <= last; ++k) {
            clip.beginMs = std::min(clip.beginMs, placed[k].clip.beginMs);
            clip.endMs = std::max(clip.endMs, placed[k].clip.endMs);
        }
        clip.spanId = prefix + std::to_string(ids.size() + 1);
        places.push_back({.begin = placed[i].place.begin, .end = placed[last].place.end});
        ids.push_back(clip.spanId);
        clips.push_back(clip);
        i = last + 1;
    }
    if (clips.empty())
        return;

    const std::string link = "<link rel=\"stylesheet\" type=\"text/css\" href=\"" +
                             referenceBetween(narration.entry, styleSheetEntry_) + "\"/>";
    std::string marked = withSentenceSpans(document, places, ids, link);
    // The spans are placed by the reader's byte places; the document must still be XML.
    book_xml::parse(marked, [&](const std::string& reason) {
        fail(quotedName(narration.entry) +
             " would not be well-formed with its sentences marked: " + reason);
    });
    replaced.emplace(narration.entry, std::move(marked));

    const std::string base = std::string(folderOf(narration.entry)) + "narration-" +
                             std::to_string(package.documents.size() + 1);
    const Container container = request_.output.container.value_or(Container::Mp3);
    NarratedDocument narrated{.contentEntry = narration.entry,
                              .overlayEntry = freeEntry(base + ".smil"),
                              .audioEntry = {},
                              .audioMediaType = audioMediaType(container),
                              .durationMs = millisecondsOf(
                                  narration.endFrame - narration.beginFrame, timings.sampleRate)};
    added_.push_back(narrated.overlayEntry);
    narrated.audioEntry = freeEntry(base + audioEnding(container));
    added_.push_back(narrated.audioEntry);

    const std::filesystem::path audio = folder_.file("audio-" + std::to_string(added_.size()));
    pieces.write(narration.beginFrame, narration.endFrame, audio, container,
                 writtenFormat(container, request_.output.format), request_.output.bitrateKbps,
                 request_.output.path, cancel_);
    audioFiles_.emplace_back(narrated.audioEntry, audio);
    documents_.emplace_back(
        narrated.overlayEntry,
        overlayDocument(referenceBetween(narrated.overlayEntry, narration.entry),
                        referenceBetween(narrated.overlayEntry, narrated.audioEntry), clips));
    package.documents.push_back(std::move(narrated));
}

void ReadAlongBook::upgrade(std::map<std::string, std::string>& replaced, Narration& package) {
    const auto refuse = [this](const std::string& reason) {
        fail(reason);
    };
    std::vector<epub::TocEntry> entries;
    if (!ncxEntry_.empty())
        entries = epub::ncxEntries(input_.read(ncxEntry_, longestDocument), ncxEntry_, refuse);
    if (entries.empty())
        for (const std::string& entry : spine_)
            entries.push_back({.place = {.entry = entry, .fragment = {}}, .title = {}});
    package.navEntry = freeEntry(std::string(folderOf(packageEntry_)) + "nav.xhtml");
    added_.push_back(package.navEntry);
    documents_.emplace_back(package.navEntry,
                            navigationDocument(entries, package.navEntry, title_, language_));
    // The zip's wall-clock fields of the first entry, taken as UTC: the same in every zone.
    const std::optional<std::time_t> time = BookArchive::firstEntryTime(request_.input.path);
    std::tm fields{};
    fields.tm_mday = 1;
    fields.tm_year = 100; // 2000-01-01T00:00:00Z where the zip gives no time
    if (time)
        localtime_r(&*time, &fields);
    char modified[32];
    std::strftime(modified, sizeof modified, "%Y-%m-%dT%H:%M:%SZ", &fields);
    package.modified = modified;
    for (const std::string& entry : xhtmlEntries(packageXml_, packageEntry_, refuse)) {
        const auto marked = replaced.find(entry);
        std::string page = asHtml5Page(
            marked != replaced.end() ? marked->second : input_.read(entry, longestDocument));
        replaced.insert_or_assign(entry, std::move(page));
    }
}

std::filesystem::path ReadAlongBook::write(const std::filesystem::path& wave,
                                           const SpeechTimings& timings) {
    const std::filesystem::path book = folder_.file("book.epub");
    BookArchive archive(book, request_.output.path);
    NarrationPieces pieces(wave);
    styleSheetEntry_ = freeEntry(std::string(folderOf(packageEntry_)) + "read-along.css");
    added_.push_back(styleSheetEntry_);
    Narration package{.documents = {},
                      .styleSheetEntry = styleSheetEntry_,
                      .activeClass = std::string(activeClass),
                      .narrator = request_.speech.voice.displayName,
                      .navEntry = {},
                      .modified = {}};
    std::map<std::string, std::string> replaced;
    for (const DocumentNarration& narration : documentNarrations(timings, spine_))
        narrate(narration, timings, replaced, package, pieces);
    if (package.documents.empty())
        fail("none of its sentences could be marked in its text");
    if (upgraded_)
        upgrade(replaced, package);
    replaced.emplace(packageEntry_,
                     narratedPackage(packageXml_, packageEntry_, package,
                                     [this](const std::string& reason) { fail(reason); }));
    // The input's entries first, in their order, then the new ones.
    archive.copyEntries(request_.input.path, replaced);
    archive.addBytes(styleSheetEntry_, styleSheet());
    for (auto& [entry, bytes] : documents_)
        archive.addBytes(entry, std::move(bytes));
    for (const auto& [entry, file] : audioFiles_)
        archive.addStoredFile(entry, file);
    if (request_.callbacks.warning && (joinedSentences_ > 0 || unmarkedSentences_ > 0))
        request_.callbacks.warning(quotedName(request_.input.path.native()) + ": " +
                                   crossingWarning(joinedSentences_, unmarkedSentences_));
    archive.close();
    return book;
}

} // namespace kestrova::speech::read_along

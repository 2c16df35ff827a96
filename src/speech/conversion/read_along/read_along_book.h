#pragma once

#include "speech/converter.h"
#include "speech/engines/command/private_folder.h"
#include "speech/text/readers/zip/zip_archive.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kestrova::speech::read_along {

class NarrationPieces;
struct Narration;

// Where one narrated content document's narration lies in the whole one's frames, and its
// sentences (indices into the timings), in speaking order.
struct DocumentNarration {
    std::string entry;
    std::uint64_t beginFrame = 0;
    std::uint64_t endFrame = 0;
    std::vector<std::size_t> sentences;
};

// The spine's content documents that have spoken sentences, each with the frames from its
// first sentence's to the next one's (the first from frame 0, the last to the end), so that
// the pieces cover the whole narration.
std::vector<DocumentNarration> documentNarrations(const SpeechTimings& timings,
                                                  const std::vector<std::string>& spine);

// The read-along book of one EPUB 3 input.
class ReadAlongBook {
public:
    // The request asks for the book; its files are made in folder, and go with it.
    ReadAlongBook(const ConversionRequest& request, PrivateFolder& folder,
                  const std::atomic<bool>* cancel);
    // Writes the book into a file in the folder, from the narration rendered into `wave` and
    // its timings, and returns the file's path.
    std::filesystem::path write(const std::filesystem::path& wave, const SpeechTimings& timings);

private:
    [[noreturn]] void fail(const std::string& reason) const;
    std::string freeEntry(const std::string& wanted) const;
    // An EPUB 2 book made EPUB 3: its navigation document added, and its pages' declarations.
    void upgrade(std::map<std::string, std::string>& replaced, Narration& package);
    void narrate(const DocumentNarration& narration, const SpeechTimings& timings,
                 std::map<std::string, std::string>& replaced, Narration& package,
                 NarrationPieces& pieces);

    const ConversionRequest& request_;
    PrivateFolder& folder_;
    const std::atomic<bool>* cancel_;
    ZipArchive input_;
    std::string packageEntry_;
    std::string packageXml_;
    std::vector<std::string> spine_;
    std::string styleSheetEntry_;
    // An EPUB 2 book: its NCX (empty: none) and what its navigation document is titled.
    bool upgraded_ = false;
    std::string ncxEntry_;
    std::string title_;
    std::string language_;
    std::vector<std::string> added_; // entries made here, to keep their names apart
    // The new documents (overlays, a navigation document) and audio files, added last.
    std::vector<std::pair<std::string, std::string>> documents_;            // entry, bytes
    std::vector<std::pair<std::string, std::filesystem::path>> audioFiles_; // entry, file
    // Sentences across markup: highlighted in one span with their neighbours, or not at all.
    std::size_t joinedSentences_ = 0;
    std::size_t unmarkedSentences_ = 0;
};

} // namespace kestrova::speech::read_along

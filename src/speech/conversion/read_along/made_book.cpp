#include "speech/conversion/read_along/made_book.h"

#include "speech/conversion/read_along/book_archive.h"
#include "speech/conversion/read_along/epub3_upgrade.h"
#include "speech/text/readers/xml/xml_text.h"

#include <cstdio>

namespace kestrova::speech::read_along {
namespace {

constexpr const char* bookFolder = "EPUB/";

using xml::escaped;

struct BookFacts {
    std::string title;
    std::string author;
    std::string language;
};

BookFacts factsOf(const ConversionRequest& request) {
    const SoundTags& tags = request.output.tags;
    return BookFacts{.title = tags.title.value_or(request.input.path.stem().string()),
                     .author = tags.artist.value_or(""),
                     .language = request.speech.voice.language.empty()
                                     ? std::string("en")
                                     : request.speech.voice.language};
}

// A name of the book that depends on its text alone (FNV-1a over the sentences), so that the
// same text makes the same book.
std::string identifierOf(const SpeechTimings& timings) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const SentenceTiming& sentence : timings.sentences)
        for (const char c : sentence.text + '\n')
            hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char text[40];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return std::string("urn:kestrova-read-along:") + text;
}

struct Chapter {
    unsigned number = 0;
    std::string title;
    std::string entry;
    std::vector<std::size_t> sentences;
};

std::vector<Chapter> chaptersOf(const SpeechTimings& timings) {
    std::vector<Chapter> chapters;
    for (std::size_t i = 0; i < timings.sentences.size(); ++i) {
        const unsigned number = timings.sentences[i].chapter;
        if (chapters.empty() || chapters.back().number != number) {
            std::string title;
            for (const ChapterTiming& chapter : timings.chapters)
                if (chapter.number == number)
                    title = chapter.title;
            char entry[64];
            std::snprintf(entry, sizeof entry, "%stext/chapter-%03zu.xhtml", bookFolder,
                          chapters.size() + 1);
            chapters.push_back({.number = number, .title = title, .entry = entry, .sentences = {}});
        }
        chapters.back().sentences.push_back(i);
    }
    return chapters;
}

// The chapter's content document; each sentence's place in it set in `placed`.
std::string chapterDocument(const Chapter& chapter, const BookFacts& facts,
                            const SpeechTimings& timings, SpeechTimings& placed) {
    const std::string language = escaped(facts.language);
    std::string page = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
                       "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"" +
                       language + "\" lang=\"" + language +
                       "\">\n<head>\n<meta charset=\"utf-8\"/>\n<title>" +
                       escaped(chapter.title.empty() ? facts.title : chapter.title) +
                       "</title>\n</head>\n<body>\n";
    // The paragraph open, if one is (a flag and a number: GCC 12 takes an optional's value
    // here for one that may be read uninitialised).
    bool inParagraph = false;
    unsigned paragraph = 0;
    for (std::size_t k = 0; k < chapter.sentences.size(); ++k) {
        const std::size_t i = chapter.sentences[k];
        const SentenceTiming& sentence = timings.sentences[i];
        const bool heading = k == 0 && chapter.number > 0 && sentence.text == chapter.title;
        if (inParagraph && (heading || paragraph != sentence.paragraph)) {
            page.append("</p>\n");
            inParagraph = false;
        }
        if (heading) {
            page.append("<h1>");
        } else if (!inParagraph) {
            page.append("<p>");
            inParagraph = true;
            paragraph = sentence.paragraph;
        } else {
            page.append(" ");
        }
        const std::string text = escaped(sentence.text);
        SentenceTiming& place = placed.sentences[i];
        place.source = chapter.entry;
        place.startByte = page.size();
        page.append(text);
        place.endByte = page.size();
        if (text.empty())
            place.startByte.reset();
        if (heading)
            page.append("</h1>\n");
    }
    if (inParagraph)
        page.append("</p>\n");
    page.append("</body>\n</html>\n");
    return page;
}

std::string packageDocument(const BookFacts& facts, const std::string& identifier,
                            const std::vector<Chapter>& chapters) {
    std::string opf = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
                      "unique-identifier=\"book-id\">\n"
                      "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
                      "<dc:identifier id=\"book-id\">" +
                      escaped(identifier) + "</dc:identifier>\n<dc:title>" + escaped(facts.title) +
                      "</dc:title>\n<dc:language>" + escaped(facts.language) + "</dc:language>\n";
    if (!facts.author.empty())
        opf.append("<dc:creator>").append(escaped(facts.author)).append("</dc:creator>\n");
    // The same text makes the same book: no clock in it.
    opf.append("<meta property=\"dcterms:modified\">2000-01-01T00:00:00Z</meta>\n</metadata>\n"
               "<manifest>\n<item id=\"nav\" href=\"nav.xhtml\" "
               "media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n");
    for (std::size_t i = 0; i < chapters.size(); ++i)
        opf.append("<item id=\"chapter-" + std::to_string(i + 1) + "\" href=\"" +
                   chapters[i].entry.substr(std::string_view(bookFolder).size()) +
                   "\" media-type=\"application/xhtml+xml\"/>\n");
    opf.append("</manifest>\n<spine>\n");
    for (std::size_t i = 0; i < chapters.size(); ++i)
        opf.append("<itemref idref=\"chapter-" + std::to_string(i + 1) + "\"/>\n");
    opf.append("</spine>\n</package>\n");
    return opf;
}

} // namespace

MadeBook makeBook(const ConversionRequest& request, const SpeechTimings& timings,
                  PrivateFolder& folder) {
    const BookFacts facts = factsOf(request);
    const std::vector<Chapter> chapters = chaptersOf(timings);
    MadeBook made{.file = folder.file("made.epub"), .timings = timings};
    BookArchive archive(made.file, request.output.path);
    archive.addBytes(
        "META-INF/container.xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<container version=\"1.0\" "
        "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n<rootfiles>\n"
        "<rootfile full-path=\"EPUB/content.opf\" "
        "media-type=\"application/oebps-package+xml\"/>\n</rootfiles>\n</container>\n");
    archive.addBytes(std::string(bookFolder) + "content.opf",
                     packageDocument(facts, identifierOf(timings), chapters));
    std::vector<epub::TocEntry> contents;
    for (const Chapter& chapter : chapters)
        contents.push_back({.place = {.entry = chapter.entry, .fragment = {}},
                            .title = chapter.title.empty() ? facts.title : chapter.title});
    const std::string navEntry = std::string(bookFolder) + "nav.xhtml";
    archive.addBytes(navEntry, navigationDocument(contents, navEntry, facts.title, facts.language));
    for (const Chapter& chapter : chapters)
        archive.addBytes(chapter.entry, chapterDocument(chapter, facts, timings, made.timings));
    archive.close();
    return made;
}

} // namespace kestrova::speech::read_along

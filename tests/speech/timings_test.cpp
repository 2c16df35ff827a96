// Where each sentence and chapter lands in the sound, checked against the sound itself.

#include "speech/conversion_plan.h"
#include "speech/converter.h"
#include "speech/render/chunk_renderer.h"
#include "support/conversion_support.h"
#include "support/speech_measures.h"
#include "support/test_support.h"
#include "support/value_sweep.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <tuple>

namespace kestrova {
namespace {

using test::ScratchDir;
namespace fs = std::filesystem;

// Each sentence's first and last sample are exactly the first and last at or above the
// renderer's audible threshold (-50 dBFS) in its stretch of the sound, and everything between
// two sentences, before the first and after the last, is below it.
void expectExactAudibleBounds(std::span<const short> samples,
                              const std::vector<speech::SentenceTiming>& sentences) {
    const auto audible = [&](std::uint64_t at) {
        return std::abs(static_cast<int>(samples[at])) >= speech::ChunkRenderer::silenceThreshold;
    };
    std::uint64_t silentFrom = 0;
    for (const speech::SentenceTiming& sentence : sentences) {
        SCOPED_TRACE(sentence.text);
        ASSERT_LE(silentFrom, sentence.firstFrame);
        ASSERT_LT(sentence.lastFrame, samples.size());
        EXPECT_TRUE(audible(sentence.firstFrame)) << "first sample " << sentence.firstFrame;
        EXPECT_TRUE(audible(sentence.lastFrame)) << "last sample " << sentence.lastFrame;
        for (std::uint64_t at = silentFrom; at < sentence.firstFrame; ++at)
            ASSERT_FALSE(audible(at)) << "sample " << at << " before " << sentence.firstFrame;
        silentFrom = sentence.lastFrame + 1;
    }
    for (std::uint64_t at = silentFrom; at < samples.size(); ++at)
        ASSERT_FALSE(audible(at)) << "sample " << at << " after the last sentence";
}

struct TimingCase {
    const char* name;
    const char* voice;
    int formatCode;
};

class SentenceTimings : public ::testing::TestWithParam<TimingCase> {};

// Sentences apart by 500 ms of our own silence: each one's first and last sample are where
// its speech begins and ends, to the sample, for every number of workers, and the sound is
// the same.
TEST_P(SentenceTimings, StartWhereTheSpeechRisesForEveryJobCount) {
    ScratchDir scratch;
    const std::string text = "The harbour was quiet at dawn. Gulls circled over the boats!\n\n"
                             "Was anyone awake? Only the old keeper, whose lamp still burned.\n";
    test::writeBytes(scratch / "in.txt", text);
    std::string firstFile;
    for (const unsigned jobs : {1u, 2u}) {
        const auto output = scratch / ("out" + std::to_string(jobs) + ".wav");
        speech::ConversionRequest request =
            test::conversion(scratch / "in.txt", output, GetParam().voice, GetParam().formatCode);
        request.speech.jobs = jobs;
        request.chapters.recordTimings = true;
        request.speech.controls.sentencePauseMs = 500;
        request.speech.controls.paragraphPauseMs = 500;
        const speech::ConversionResult result = speech::convertTextFile(request);
        const speech::SpeechTimings& timings = result.timings;
        const auto sound = test::readSound(output);
        ASSERT_TRUE(sound);
        ASSERT_EQ(timings.sentences.size(), 4u);
        EXPECT_EQ(timings.frames, static_cast<std::uint64_t>(sound->info.frames));
        expectExactAudibleBounds(sound->samples, timings.sentences);
        for (std::size_t i = 0; i < 4; ++i) {
            const speech::SentenceTiming& sentence = timings.sentences[i];
            SCOPED_TRACE(sentence.text);
            // Our own 500 ms between sentences, not the engine's pauses within one.
            if (i > 0) {
                EXPECT_GE(sentence.firstFrame - timings.sentences[i - 1].lastFrame,
                          sound->info.samplerate / 2u);
            }
            EXPECT_LT(sentence.firstFrame, sentence.lastFrame);
            EXPECT_EQ(text.substr(*sentence.startByte, *sentence.endByte - *sentence.startByte),
                      sentence.text);
            EXPECT_EQ(sentence.paragraph, i < 2 ? 1u : 2u);
        }
        EXPECT_LT(timings.sentences.back().lastFrame, timings.frames);
        if (firstFile.empty())
            firstFile = test::readBytes(output);
        else
            EXPECT_TRUE(test::readBytes(output) == firstFile) << "-j " << jobs << " differs";
    }
}

INSTANTIATE_TEST_SUITE_P(Voices, SentenceTimings,
                         test::sweep(TimingCase{"EspeakAt22k", test::fastVoice.data(), 22},
                                     TimingCase{"EspeakAt16k", test::fastVoice.data(), 18},
                                     TimingCase{"FliteAt22k", "Flite slt", 22},
                                     TimingCase{"FliteKalAt16k", "Flite kal16", 18}),
                         [](const auto& info) { return std::string(info.param.name); });

// A short book: an opening, headings of each kind, a paragraph that only looks like one.
constexpr std::string_view book = "A Small Book\n\n"
                                  "Some words before it all begins.\n\n"
                                  "Chapter 1: The Start\n\n"
                                  "It began on a Tuesday. Nobody noticed.\n\n"
                                  "Chapter 2\n"
                                  "is not a heading, for its paragraph has two lines.\n\n"
                                  "# Épilogue à la mer\n\n"
                                  "And that was all.\n";

struct ChapterExpectation {
    unsigned number;
    const char* title;
};

// In UTF-8 and in UTF-16 with its mark: the chapters and the bytes of each sentence.
TEST(ChapterTimings, HeadingsStartChaptersAndSentencesPointIntoTheFile) {
    ScratchDir scratch;
    std::string utf16 = "\xFF\xFE";
    const std::u16string wide = u"A Small Book\n\nSome words before it all begins.\n\n"
                                u"Chapter 1: The Start\n\nIt began on a Tuesday. Nobody noticed."
                                u"\n\nChapter 2\nis not a heading, for its paragraph has two "
                                u"lines.\n\n# \u00C9pilogue \u00E0 la mer\n\nAnd that was all.\n";
    for (char16_t unit : wide) {
        utf16.push_back(static_cast<char>(unit & 0xFF));
        utf16.push_back(static_cast<char>(unit >> 8));
    }
    std::vector<speech::SentenceTiming> utf8Sentences;
    for (const auto& [name, bytes, unit] :
         {std::tuple{"utf8.txt", std::string(book), 1}, std::tuple{"utf16.txt", utf16, 2}}) {
        SCOPED_TRACE(name);
        test::writeBytes(scratch / name, bytes);
        speech::ConversionRequest request =
            test::conversion(scratch / name, scratch / "book.wav", test::fastVoice);
        request.chapters.pattern = std::string(speech::defaultChapterPattern);
        const speech::ConversionResult result = speech::convertTextFile(request);
        const speech::SpeechTimings& timings = result.timings;

        const std::vector<ChapterExpectation> expected{
            {0, ""}, {1, "Chapter 1: The Start"}, {2, "Épilogue à la mer"}};
        ASSERT_EQ(timings.chapters.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const speech::ChapterTiming& chapter = timings.chapters[i];
            EXPECT_EQ(chapter.number, expected[i].number);
            EXPECT_EQ(chapter.title, expected[i].title);
            EXPECT_LE(chapter.startFrame, chapter.headingFrame);
            EXPECT_LT(chapter.headingFrame, chapter.endFrame);
            if (i > 0) {
                EXPECT_EQ(chapter.startFrame, timings.chapters[i - 1].endFrame);
            }
        }
        EXPECT_EQ(timings.chapters.back().endFrame, result.frames);
        // In UTF-8, the file's bytes of each sentence, single-spaced as it is read; in UTF-16,
        // every character of this text two bytes after the mark's two.
        const auto utf16Offset = [&](std::uint64_t utf8Offset) {
            return 2 + 2 * test::utf8Characters(book.substr(0, utf8Offset));
        };
        for (std::size_t i = 0; i < timings.sentences.size(); ++i) {
            const speech::SentenceTiming& sentence = timings.sentences[i];
            SCOPED_TRACE(sentence.text);
            ASSERT_TRUE(sentence.startByte && sentence.endByte);
            if (unit == 1) {
                std::string held =
                    bytes.substr(*sentence.startByte, *sentence.endByte - *sentence.startByte);
                std::replace(held.begin(), held.end(), '\n', ' ');
                EXPECT_EQ(held, sentence.text);
                utf8Sentences.push_back(sentence);
            } else {
                ASSERT_LT(i, utf8Sentences.size());
                EXPECT_EQ(*sentence.startByte, utf16Offset(*utf8Sentences[i].startByte));
                EXPECT_EQ(*sentence.endByte, utf16Offset(*utf8Sentences[i].endByte));
            }
        }
        EXPECT_EQ(timings.sentences.front().chapter, 0u);
        EXPECT_EQ(timings.sentences.back().chapter, 2u);
        EXPECT_EQ(timings.sentences.back().text, "And that was all.");
        EXPECT_EQ(timings.sentences.back().paragraph, 7u);
    }
}

// Split, the chapters' files hold exactly the one file's sound, each titled.
TEST(ChapterTimings, SplitFilesAddUpToTheWholeSound) {
    ScratchDir scratch;
    test::writeBytes(scratch / "book.txt", book);
    speech::ConversionRequest whole =
        test::conversion(scratch / "book.txt", scratch / "whole.wav", test::fastVoice);
    whole.chapters.pattern = std::string(speech::defaultChapterPattern);
    const speech::ConversionResult one = speech::convertTextFile(whole);

    speech::ConversionRequest split = whole;
    split.output.path = scratch / "parts" / "book.wav";
    fs::create_directory(scratch / "parts");
    split.chapters.split = true;
    const speech::ConversionResult parts = speech::convertTextFile(split);
    ASSERT_EQ(parts.chapterFiles.size(), 3u);
    EXPECT_FALSE(fs::exists(split.output.path));
    const auto wholeSound = test::readSound(whole.output.path);
    ASSERT_TRUE(wholeSound);
    std::vector<short> joined;
    for (std::size_t i = 0; i < parts.chapterFiles.size(); ++i) {
        const auto sound = test::readSound(parts.chapterFiles[i]);
        ASSERT_TRUE(sound) << parts.chapterFiles[i];
        joined.insert(joined.end(), sound->samples.begin(), sound->samples.end());
    }
    EXPECT_EQ(parts.frames, one.frames);
    EXPECT_TRUE(joined == wholeSound->samples);
    std::vector<std::string> names;
    for (const fs::path& file : parts.chapterFiles)
        names.push_back(file.filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"book-00.wav", "book-01-Chapter_1_The_Start.wav",
                                               "book-02-Épilogue_à_la_mer.wav"}));

    // One file: a cue point at each heading's first sample, named with its title.
    const auto cues = test::readCuePoints(whole.output.path);
    ASSERT_EQ(cues.size(), 2u);
    for (std::size_t i = 0; i < cues.size(); ++i) {
        EXPECT_EQ(cues[i].frame, one.timings.chapters[i + 1].headingFrame);
        EXPECT_EQ(cues[i].name, one.timings.chapters[i + 1].title);
    }
}

// Markup has no place in the file for its sentences; its marks land where they stand.
TEST(ChapterTimings, MarkupSentencesAndMarks) {
    ScratchDir scratch;
    test::writeBytes(scratch / "in.ssml",
                     "<speak>First words. <break time=\"400ms\"/><mark name=\"here\"/>"
                     "Second words.</speak>");
    speech::ConversionRequest request =
        test::conversion(scratch / "in.ssml", scratch / "out.wav", test::fastVoice);
    request.speech.controls.ssml = true;
    request.chapters.recordTimings = true;
    const speech::ConversionResult result = speech::convertTextFile(request);
    const speech::SpeechTimings& timings = result.timings;
    ASSERT_EQ(timings.sentences.size(), 2u);
    EXPECT_FALSE(timings.sentences[0].startByte);
    ASSERT_EQ(timings.marks.size(), 1u);
    EXPECT_EQ(timings.marks[0].name, "here");
    EXPECT_GT(timings.marks[0].frame, timings.sentences[0].lastFrame);
    EXPECT_LE(timings.marks[0].frame, timings.sentences[1].firstFrame);
}

// The window program hands the library its text as plain text, whatever the file holds: only
// a request naming another kind reads a document's structure. A document's sentences land as
// exactly as plain text's.
TEST(DocumentTimings, PlainTextUnlessTheRequestNamesAnotherKind) {
    ScratchDir scratch;
    test::writeBytes(scratch / "page.html",
                     "<!DOCTYPE html>\n<html lang=\"en\"><head><title>Page</title></head><body>"
                     "<h1>The Title</h1><p>Hello there. Second words.</p></body></html>\n");
    speech::ConversionRequest request =
        test::conversion(scratch / "page.html", scratch / "out.wav", test::fastVoice);
    request.chapters.recordTimings = true;
    const speech::ConversionResult plain = speech::convertTextFile(request);
    ASSERT_FALSE(plain.timings.sentences.empty());
    EXPECT_TRUE(plain.timings.sentences.front().text.starts_with("<!DOCTYPE html>"));
    EXPECT_TRUE(plain.timings.chapters.empty());

    request.input.kind = speech::InputKind::Html;
    const speech::ConversionResult read = speech::convertTextFile(request);
    const speech::SpeechTimings& timings = read.timings;
    ASSERT_EQ(timings.sentences.size(), 3u);
    EXPECT_EQ(timings.sentences[0].text, "The Title");
    EXPECT_EQ(timings.sentences[2].text, "Second words.");
    EXPECT_EQ(timings.sentences[2].paragraph, 2u);
    EXPECT_EQ(timings.sentences[2].source, (scratch / "page.html").string());
    ASSERT_EQ(timings.chapters.size(), 1u);
    EXPECT_EQ(timings.chapters[0].title, "The Title");
    const auto sound = test::readSound(scratch / "out.wav");
    ASSERT_TRUE(sound);
    expectExactAudibleBounds(sound->samples, timings.sentences);
}

// The plan reads a document once and keeps its sentences; rendered from them, the sound and
// every timing are those of a conversion that reads the document itself (a plan that did not
// survey it): the same text, voice, place in the file, paragraph and chapter for each sentence.
TEST(DocumentTimings, PlannedSentencesRenderAsTheDocumentReadAgain) {
    ScratchDir scratch;
    test::writeBytes(scratch / "page.html",
                     "<!DOCTYPE html>\n<html lang=\"en\"><head><title>Page</title></head><body>"
                     "<p>Before the first heading.</p><h1>One</h1><p>Hello there. Second "
                     "words.</p><p lang=\"de\">Guten Tag. Wie geht es?</p><h1>Two</h1>"
                     "<p>The <em>last</em> words &amp; more.</p><p>It is a <i "
                     "lang=\"fr\">bijou</i> villa.</p></body></html>\n");
    for (const bool words : {true, false}) {
        SCOPED_TRACE(words ? "with sentences" : "chapters alone");
        speech::ConversionRequest request =
            test::conversion(scratch / "page.html", scratch / "kept.wav", test::fastVoice);
        request.input.kind = speech::InputKind::Html;
        request.chapters.recordTimings = words;
        speech::ConversionPlan kept = speech::planConversion(request);
        const speech::ConversionResult fromPlan = speech::convertTextFile(kept);
        request.output.path = scratch / "read.wav";
        speech::PlanChoices unsurveyedChoices;
        unsurveyedChoices.surveyDocument = false;
        speech::ConversionPlan unsurveyed = speech::planConversion(request, unsurveyedChoices);
        ASSERT_TRUE(unsurveyed.chapters().chapters.empty()); // the conversion reads it
        const speech::ConversionResult fromReading = speech::convertTextFile(unsurveyed);

        EXPECT_EQ(test::readBytes(scratch / "kept.wav"), test::readBytes(scratch / "read.wav"));
        const auto& planned = fromPlan.timings;
        const auto& read = fromReading.timings;
        ASSERT_EQ(planned.sentences.size(), read.sentences.size());
        ASSERT_EQ(planned.sentences.size(), 9u);
        for (std::size_t i = 0; i < read.sentences.size(); ++i) {
            const speech::SentenceTiming& a = planned.sentences[i];
            const speech::SentenceTiming& b = read.sentences[i];
            SCOPED_TRACE(b.text);
            EXPECT_EQ(std::tie(a.text, a.startByte, a.endByte, a.paragraph, a.chapter, a.source),
                      std::tie(b.text, b.startByte, b.endByte, b.paragraph, b.chapter, b.source));
            EXPECT_EQ(std::pair(a.firstFrame, a.lastFrame), std::pair(b.firstFrame, b.lastFrame));
        }
        ASSERT_EQ(planned.chapters.size(), read.chapters.size());
        for (std::size_t i = 0; i < read.chapters.size(); ++i) {
            const auto& a = planned.chapters[i];
            const auto& b = read.chapters[i];
            EXPECT_EQ(std::tie(a.number, a.title, a.startFrame, a.headingFrame, a.endFrame),
                      std::tie(b.number, b.title, b.startFrame, b.headingFrame, b.endFrame));
        }
        if (words) {
            EXPECT_EQ(planned.sentences[4].text, "Guten Tag.");
            EXPECT_EQ(planned.sentences[8].text, "It is a bijou villa.");
        }
    }
}

// Markup inside a sentence (a break, prosody, emphasis, a mark) does not end it: the
// sentence is one entry, from its first sound to its last. Its text or the markup ends it.
TEST(ChapterTimings, MarkupSentencesSpanTheirInlineMarkup) {
    ScratchDir scratch;
    test::writeBytes(
        scratch / "in.ssml",
        "<speak><p><s>You have 4 new messages.</s>"
        "<s>The first is from Stephanie Williams and arrived at <break/> 3:45pm.</s>"
        "<s>The subject is <prosody rate=\"-20%\">ski trip</prosody></s></p>"
        "<p>It was <emphasis>im</emphasis>portant.<break time=\"300ms\"/> Then <mark "
        "name=\"inside\"/>it ended.</p><s>One</s><break time=\"200ms\"/><s>Two</s></speak>");
    speech::ConversionRequest request =
        test::conversion(scratch / "in.ssml", scratch / "out.wav", test::fastVoice);
    request.speech.controls.ssml = true;
    request.chapters.recordTimings = true;
    const speech::SpeechTimings timings = speech::convertTextFile(request).timings;
    const std::vector<std::pair<std::string, unsigned>> expected{
        {"You have 4 new messages.", 1},
        {"The first is from Stephanie Williams and arrived at 3:45pm.", 1},
        {"The subject is ski trip", 1},
        {"It was important.", 2},
        {"Then it ended.", 2},
        {"One", 3},
        {"Two", 3}};
    ASSERT_EQ(timings.sentences.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const speech::SentenceTiming& sentence = timings.sentences[i];
        EXPECT_EQ(sentence.text, expected[i].first);
        EXPECT_EQ(sentence.paragraph, expected[i].second) << sentence.text;
        EXPECT_LT(sentence.firstFrame, sentence.lastFrame) << sentence.text;
        if (i > 0) {
            EXPECT_GT(sentence.firstFrame, timings.sentences[i - 1].lastFrame) << sentence.text;
        }
    }
    // Its sound spans both sides of the break: longer than the words before it take (2.7 s).
    EXPECT_GT(timings.sentences[1].lastFrame - timings.sentences[1].firstFrame,
              3 * timings.sampleRate);
    ASSERT_EQ(timings.marks.size(), 1u);
    EXPECT_GT(timings.marks[0].frame, timings.sentences[4].firstFrame);
    EXPECT_LT(timings.marks[0].frame, timings.sentences[4].lastFrame);
}

} // namespace
} // namespace kestrova

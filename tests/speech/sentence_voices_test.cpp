#include "speech/conversion/reading/sentence_voices.h"
#include "speech/text/script/unicode_breaks.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrova::speech {
namespace sentence_voices_test {

const Voice english{.engine = EngineKind::EspeakNg,
                    .displayName = "English",
                    .id = "en-us",
                    .language = "en-us",
                    .nativeRate = 22050,
                    .engineVoice = "gmw/en-US"};
const Voice french{.engine = EngineKind::EspeakNg,
                   .displayName = "French",
                   .id = "fr-fr",
                   .language = "fr",
                   .nativeRate = 22050,
                   .engineVoice = "roa/fr"};

// A block made of pieces of text, each read by a voice, cut into its sentences by the
// chunker as the reading cuts it; each sentence's parts as "voice:text" (an F for French).
std::vector<std::vector<std::string>>
partsOf(const std::vector<std::pair<const Voice*, std::string>>& pieces) {
    std::string block;
    std::vector<VoiceStart> voices;
    for (const auto& [voice, text] : pieces) {
        if (voices.empty() || voices.back().voice != voice)
            voices.push_back({.at = block.size(), .voice = voice});
        block += text;
    }
    TextChunker chunker(1, TextChunker::defaultLimitBytes, "en-us");
    chunker.push(block);
    chunker.finish();
    std::vector<std::vector<std::string>> sentences;
    while (std::optional<TextChunk> sentence = chunker.next()) {
        const std::vector<VoiceStart> parts = sentenceVoices(block, voices, *sentence);
        std::vector<std::string>& out = sentences.emplace_back();
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const std::size_t end = i + 1 < parts.size() ? parts[i + 1].at : sentence->text.size();
            out.push_back(std::string(parts[i].voice == &french ? "F:" : "E:") +
                          sentence->text.substr(parts[i].at, end - parts[i].at));
        }
    }
    return sentences;
}

using Parts = std::vector<std::vector<std::string>>;

// A passage inside a sentence is a part of it, mapped onto the sentence's single-spaced text
// however the block spaced it; a sentence that the passage does not reach is one voice's.
TEST(SentenceVoices, PassageIsAPartOfItsSentence) {
    EXPECT_EQ(partsOf({{&english, "It  is a\n"}, {&french, " bijou "}, {&english, "  villa."}}),
              (Parts{{"E:It is a", "F: bijou", "E: villa."}}));
    EXPECT_EQ(
        partsOf(
            {{&english, "Before. It is a "}, {&french, "bijou"}, {&english, " villa. After it."}}),
        (Parts{{"E:Before."}, {"E:It is a", "F: bijou", "E: villa."}, {"E:After it."}}));
    // A passage that ends a sentence and begins the next one is in both.
    EXPECT_EQ(partsOf({{&english, "Said "}, {&french, "oui. Non"}, {&english, " again."}}),
              (Parts{{"E:Said", "F: oui."}, {"F:Non", "E: again."}}));
    EXPECT_EQ(partsOf({{&french, "Tout le monde."}}), (Parts{{"F:Tout le monde."}}));
}

// Marks right after a passage end its words ("mon dieu!" in French); a sentence's opening
// quote goes with the passage it opens; a part of marks alone is never a voice's own, and the
// voices that meet again once it has gone are one part.
TEST(SentenceVoices, MarksGoWithTheWordsTheyEnd) {
    EXPECT_EQ(partsOf({{&english, "\"Oh, "}, {&french, "mon dieu"}, {&english, "!\" she cried."}}),
              (Parts{{"E:\"Oh,", "F: mon dieu!\""}, {"E:she cried."}}));
    EXPECT_EQ(partsOf({{&english, "He said "}, {&french, "merci"}, {&english, ": and left."}}),
              (Parts{{"E:He said", "F: merci:"}, {"E:and left."}}));
    EXPECT_EQ(partsOf({{&english, "\""}, {&french, "Bonjour"}, {&english, ",\" he said."}}),
              (Parts{{"F:\"Bonjour,\"", "E: he said."}}));
    EXPECT_EQ(partsOf({{&english, "A "}, {&french, "bijou"}, {&english, ", a villa."}}),
              (Parts{{"E:A", "F: bijou,", "E: a villa."}}));
    EXPECT_EQ(partsOf({{&english, "One"}, {&french, " \u00AB "}, {&english, "two."}}),
              (Parts{{"E:One \u00AB two."}}));
    // Marks that lead into a word stay with it: the word is the voice's.
    EXPECT_EQ(partsOf({{&english, "The "}, {&french, "bijou"}, {&english, "'s roof."}}),
              (Parts{{"E:The", "F: bijou", "E:'s roof."}}));
}

// Each part is pronounced on its own, and the changes follow the pronounced text.
TEST(SentenceVoices, PartsArePronouncedEachOnItsOwn) {
    std::string text = "It is a bijou villa.";
    const std::vector<VoiceStart> voices{
        {.at = 0, .voice = &english}, {.at = 7, .voice = &french}, {.at = 13, .voice = &english}};
    const std::vector<VoiceChange> changes =
        pronouncedParts(text, voices, [](std::string part) { return "[" + part + "]"; });
    EXPECT_EQ(text, "[It is a][ bijou][ villa.]");
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].at, 9u);
    EXPECT_EQ(changes[0].voice.displayName, "French");
    EXPECT_EQ(changes[1].at, 17u);
    EXPECT_EQ(changes[1].voice.displayName, "English");
}

// A part ends where a voice pauses at a comma, semicolon, colon or dash of any script, before
// any closing quote; not at a word, a full stop or a hyphen that joins two words.
TEST(ClauseMarks, EndAPartWhereAVoicePauses) {
    for (const char* text : {"Oh,", "Oh, ", "bijou;", "said:", "\"Oh,\"", "wait\u2014",
                             "\u4F60\u597D\uFF0C", "\u0645\u0631\u062D\u0628\u0627\u060C"})
        EXPECT_TRUE(endsAtClauseMark(text)) << text;
    for (const char* text : {"", " ", "bijou", "Mr.", "well-", "no!\"", "(aside)", "\u00AB"})
        EXPECT_FALSE(endsAtClauseMark(text)) << text;
}

} // namespace sentence_voices_test
} // namespace kestrova::speech

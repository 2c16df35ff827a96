#include "subtitle_cues.h"

#include "speech/base/utf8.h"

#include <cmath>
#include <limits>
#include <string_view>

namespace kestrova::speech {
namespace {

struct Word {
    std::string text;
    std::size_t characters = 0;
};

bool isBreak(unsigned char c) {
    return c <= 0x20 || c == 0x7F;
}

// The words of a sentence; a word longer than a line is cut into pieces that fit one.
std::vector<Word> wordsOf(std::string_view text) {
    std::vector<Word> words;
    bool inWord = false;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (isBreak(c)) {
            inWord = false;
            ++i;
            continue;
        }
        if (!inWord || words.back().characters == subtitleLineCharacters)
            words.emplace_back();
        inWord = true;
        i += appendCharacterOrReplacement(text.substr(i), words.back().text);
        ++words.back().characters;
    }
    return words;
}

// The words [begin, end) set in lines of at most subtitleLineCharacters, each filled before
// the next is begun.
std::vector<std::string> linesOf(const std::vector<Word>& words, std::size_t begin,
                                 std::size_t end) {
    std::vector<std::string> lines;
    std::size_t characters = 0;
    for (std::size_t i = begin; i < end; ++i) {
        if (!lines.empty() && characters + 1 + words[i].characters <= subtitleLineCharacters) {
            lines.back() += ' ' + words[i].text;
            characters += 1 + words[i].characters;
        } else {
            lines.push_back(words[i].text);
            characters = words[i].characters;
        }
    }
    return lines;
}

struct WordRange {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t characters = 0; // spaces between the words included
};

// Cues filled word by word while they fit two lines and hold at most limit characters.
std::vector<WordRange> cuesOf(const std::vector<Word>& words, std::size_t limit) {
    std::vector<WordRange> cues;
    for (std::size_t begin = 0; begin < words.size();) {
        WordRange cue{.begin = begin, .end = begin + 1, .characters = words[begin].characters};
        for (; cue.end < words.size(); ++cue.end) {
            const std::size_t characters = cue.characters + 1 + words[cue.end].characters;
            if (characters > limit || linesOf(words, begin, cue.end + 1).size() > subtitleCueLines)
                break;
            cue.characters = characters;
        }
        cues.push_back(cue);
        begin = cue.end;
    }
    return cues;
}

// As few cues as filling each to the brim gives, but of about equal length: a sentence of
// two and a bit cues' worth reads as three even cues, not two full ones and a scrap.
std::vector<WordRange> balancedCuesOf(const std::vector<Word>& words) {
    const std::vector<WordRange> full = cuesOf(words, std::numeric_limits<std::size_t>::max());
    if (full.size() < 2)
        return full;
    std::size_t characters = full.size() - 1; // the spaces between the cues
    for (const WordRange& cue : full)
        characters += cue.characters;
    // A cue holds at most two full lines and the space between them, so the search ends.
    for (std::size_t limit = (characters + full.size() - 1) / full.size();
         limit <= subtitleCueLines * (subtitleLineCharacters + 1); ++limit) {
        std::vector<WordRange> even = cuesOf(words, limit);
        if (even.size() <= full.size())
            return even;
    }
    return full;
}

} // namespace

std::vector<SubtitleCue> subtitleCues(const SpeechTimings& timings) {
    std::vector<SubtitleCue> cues;
    for (const SentenceTiming& sentence : timings.sentences) {
        const std::vector<Word> words = wordsOf(sentence.text);
        const std::vector<WordRange> ranges = balancedCuesOf(words);
        std::size_t total = 0;
        for (const WordRange& range : ranges)
            total += range.characters;
        const std::uint64_t start = sentence.firstFrame;
        const std::uint64_t length = sentence.lastFrame + 1 - std::min(start, sentence.lastFrame);
        // Each boundary from the characters before it, so that the shares add up exactly.
        std::size_t before = 0;
        for (const WordRange& range : ranges) {
            SubtitleCue cue;
            cue.lines = linesOf(words, range.begin, range.end);
            cue.startFrame = start + static_cast<std::uint64_t>(std::llround(
                                         static_cast<double>(length) * before / total));
            before += range.characters;
            cue.endFrame = start + static_cast<std::uint64_t>(
                                       std::llround(static_cast<double>(length) * before / total));
            cues.push_back(std::move(cue));
        }
    }
    return cues;
}

} // namespace kestrova::speech

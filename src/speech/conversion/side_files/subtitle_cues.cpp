#include "subtitle_cues.h"

#include "speech/base/utf8.h"

#include <cmath>
#include <limits>
#include <string_view>

namespace kestrova::speech {
namespace {

// Where a part of the sentence begins in the text of a word or a line.
struct PartStart {
    std::size_t at = 0;   // byte of the text
    std::size_t part = 0; // index into the sentence's parts
};

struct Word {
    std::string text;
    std::size_t characters = 0;
    std::vector<PartStart> parts; // empty when the sentence has none
};

bool isBreak(unsigned char c) {
    return c <= 0x20 || c == 0x7F;
}

// The words of a sentence, each with the parts it holds; a word longer than a line is cut
// into pieces that fit one.
std::vector<Word> wordsOf(std::string_view text, const std::vector<SentencePart>& parts) {
    std::vector<Word> words;
    bool inWord = false;
    std::size_t part = 0;
    for (std::size_t i = 0; i < text.size();) {
        while (part + 1 < parts.size() && parts[part + 1].offset <= i)
            ++part;
        const auto c = static_cast<unsigned char>(text[i]);
        if (isBreak(c)) {
            inWord = false;
            ++i;
            continue;
        }
        if (!inWord || words.back().characters == subtitleLineCharacters)
            words.emplace_back();
        inWord = true;
        Word& word = words.back();
        if (!parts.empty() && (word.parts.empty() || word.parts.back().part != part))
            word.parts.push_back({.at = word.text.size(), .part = part});
        i += appendCharacterOrReplacement(text.substr(i), word.text);
        ++word.characters;
    }
    return words;
}

struct CueLine {
    std::string text;
    std::vector<PartStart> parts; // the first at 0, each a part other than the one before
};

void appendToLine(CueLine& line, const Word& word) {
    const std::size_t at = line.text.size();
    line.text += word.text;
    for (const PartStart& start : word.parts)
        if (line.parts.empty() || line.parts.back().part != start.part)
            line.parts.push_back({.at = at + start.at, .part = start.part});
}

// The words [begin, end) set in lines of at most subtitleLineCharacters, each filled before
// the next is begun.
std::vector<CueLine> linesOf(const std::vector<Word>& words, std::size_t begin, std::size_t end) {
    std::vector<CueLine> lines;
    std::size_t characters = 0;
    for (std::size_t i = begin; i < end; ++i) {
        if (!lines.empty() && characters + 1 + words[i].characters <= subtitleLineCharacters) {
            lines.back().text += ' ';
            characters += 1 + words[i].characters;
        } else {
            lines.emplace_back();
            characters = words[i].characters;
        }
        appendToLine(lines.back(), words[i]);
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

// The voices of a line, two parts of one voice side by side read as one.
std::vector<CueVoice> voicesOf(const CueLine& line, const std::vector<SentencePart>& parts) {
    std::vector<CueVoice> voices;
    for (const PartStart& start : line.parts)
        if (voices.empty() || voices.back().voice != parts[start.part].voice)
            voices.push_back({.at = start.at, .voice = parts[start.part].voice});
    return voices;
}

} // namespace

std::vector<SubtitleCue> subtitleCues(const SpeechTimings& timings) {
    std::vector<SubtitleCue> cues;
    for (const SentenceTiming& sentence : timings.sentences) {
        const std::vector<Word> words = wordsOf(sentence.text, sentence.parts);
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
            for (CueLine& line : linesOf(words, range.begin, range.end)) {
                if (!sentence.parts.empty())
                    cue.voices.push_back(voicesOf(line, sentence.parts));
                cue.lines.push_back(std::move(line.text));
            }
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

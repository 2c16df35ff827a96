#pragma once

#include "speech/text/lexicon/regular_expression.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrova::speech {

// A user's pronunciation list: whole words and phrases replaced in any letter case, and
// regular expressions applied before them. A replacement is text spelled the way it should
// sound, so that it works for every voice.
//
// The file: UTF-8, one entry a line.
//   word = replacement        whole words in any letter case; several words match across any
//                             run of white space, line breaks included; the longest key wins
//   /pattern/ = replacement   PCRE2 in UTF mode, $1 or ${name} for a group, $$ for a dollar
//                             sign; a slash inside the pattern is written \/
// A line whose first non-blank character is # is a comment, and a # after white space ends an
// entry, except inside the /pattern/: "C# = C sharp" keeps its #, "Ngaio = Nye-oh # the
// author" does not. Blank lines are skipped. An entry for a key given before (a word in any
// letter case, or the same pattern) replaces the earlier one; a pattern keeps its place.
class Lexicon {
public:
    Lexicon(); // empty: apply() returns the text unchanged

    // Called between lines, between the word expressions' compilations and at least every
    // tenth of a second while a file keeps the loading waiting (a FIFO with no writer); it
    // throws to stop the loading, as at a stop signal.
    using StopCheck = std::function<void()>;

    // Reads the files in order, later files winning over earlier ones for the same key. A bad
    // line throws FileError "FILE:LINE: reason", a line longer than 64 KiB too, found before
    // the rest of the line is read; an unreadable file throws FileError "cannot read the
    // lexicon "FILE": REASON".
    static Lexicon load(const std::vector<std::filesystem::path>& files,
                        const StopCheck& stopIfAsked = {});
    // One file's content, named sourceName in messages, as load() reads it.
    static Lexicon parse(std::string_view content, std::string_view sourceName);

    bool empty() const;

    // The text with every pattern entry applied in file order, then the word entries. Throws
    // SpeechError naming the entry's line if a pattern cannot be applied (its match limit).
    std::string apply(std::string_view text) const;

private:
    struct Entry {
        std::string key; // the words joined by single spaces
        std::string replacement;
        std::string location; // FILE:LINE
    };
    struct PatternRule {
        std::string pattern;
        RegularExpression expression;
        std::string replacement;
        std::string location;
    };
    struct Entries {
        std::vector<PatternRule> patterns;
        std::unordered_map<std::string, std::size_t> patternPlaces; // index in patterns
        std::vector<Entry> words;
    };

    static void addLine(std::string_view line, std::string_view sourceName, std::size_t lineNumber,
                        Entries& entries);
    static void addPattern(std::string_view entry, const std::string& location, Entries& entries);
    static Lexicon build(Entries entries, const StopCheck& stopIfAsked);
    std::string replaceWords(std::string_view text, std::size_t maximumLength) const;

    std::vector<PatternRule> patterns_;
    // The word keys as alternatives of as few expressions as PCRE2's size limit allows, longest
    // key first; each alternative marks its index in words_.
    std::vector<RegularExpression> wordExpressions_;
    std::vector<Entry> words_;
};

} // namespace kestrova::speech

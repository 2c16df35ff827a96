#pragma once

// How well the words a conversion spoke follow the words a document holds: each list in order,
// matched by their longest common subsequence. Words are compared in lower case, letters and
// digits only, so that punctuation and letter case do not count.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::test {

// The words of a text: runs of letters and digits (any byte of a UTF-8 sequence counts as a
// letter), in lower case; an apostrophe inside a word is dropped ("don't" is "dont").
inline std::vector<std::string> wordsOf(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || byte >= 0x80) {
            word += static_cast<char>(std::tolower(byte));
        } else if (c == '\'' && !word.empty()) {
            continue;
        } else if (!word.empty()) {
            words.push_back(std::move(word));
            word.clear();
        }
    }
    if (!word.empty())
        words.push_back(std::move(word));
    return words;
}

struct WordMatch {
    std::size_t matched = 0;
    std::size_t expected = 0;
    std::size_t spoken = 0;

    // Of the document's words, how many were spoken in order.
    double recall() const { return expected ? double(matched) / double(expected) : 1.0; }
    // Of the words spoken, how many are the document's, in order.
    double precision() const { return spoken ? double(matched) / double(spoken) : 1.0; }
};

// The longest common subsequence of the two lists, in one row of memory at a time.
inline WordMatch matchWords(const std::vector<std::string>& expected,
                            const std::vector<std::string>& spoken) {
    std::vector<std::size_t> row(spoken.size() + 1, 0);
    for (const std::string& word : expected) {
        std::size_t diagonal = 0;
        for (std::size_t j = 1; j <= spoken.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = word == spoken[j - 1] ? diagonal + 1 : std::max(row[j], row[j - 1]);
            diagonal = above;
        }
    }
    return {.matched = row.back(), .expected = expected.size(), .spoken = spoken.size()};
}

// The words to change, add or drop that turn expected into spoken (Levenshtein on words):
// a recogniser's word errors against what was said.
inline std::size_t wordErrors(const std::vector<std::string>& expected,
                              const std::vector<std::string>& spoken) {
    std::vector<std::size_t> row(spoken.size() + 1);
    for (std::size_t j = 0; j <= spoken.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= expected.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= spoken.size(); ++j) {
            const std::size_t above = row[j];
            const std::size_t changed = diagonal + (expected[i - 1] != spoken[j - 1]);
            row[j] = std::min({changed, above + 1, row[j - 1] + 1});
            diagonal = above;
        }
    }
    return row.back();
}

} // namespace kestrova::test

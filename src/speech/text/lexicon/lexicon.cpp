#include "lexicon.h"

#include "speech/base/unique_fd.h"
#include "speech/base/utf8.h"
#include "speech/base/whole_file.h"
#include "speech/quoted_name.h"
#include "speech/speech_error.h"
#include "speech/text/lexicon/case_folder.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <unistd.h>
#include <utility>

namespace kestrova::speech {

namespace {

// Far beyond any list a person writes; keeps a wrong argument such as /dev/zero from eating
// the memory.
constexpr std::size_t maximumFileSize = std::size_t{64} << 20;

// How much longer than the text the lexicon may make it: far beyond any abbreviation's
// expansion, and short of filling the memory.
constexpr std::size_t maximumGrowth = 32;

constexpr std::string_view blanks = " \t";

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The text before a # that follows white space.
std::string_view beforeComment(std::string_view text) {
    for (std::size_t i = 1; i < text.size(); ++i)
        if (text[i] == '#' && (text[i - 1] == ' ' || text[i - 1] == '\t'))
            return text.substr(0, i);
    return text;
}

std::string spokenReplacement(std::string_view text) {
    std::string replacement(trimmed(beforeComment(text)));
    std::replace(replacement.begin(), replacement.end(), '\t', ' ');
    return replacement;
}

// The key's words joined by single spaces.
std::string normalizedKey(std::string_view key) {
    std::string normalized;
    for (std::size_t at = key.find_first_not_of(blanks); at != std::string_view::npos;) {
        const std::size_t end = std::min(key.find_first_of(blanks, at), key.size());
        if (!normalized.empty())
            normalized += ' ';
        normalized += key.substr(at, end - at);
        at = key.find_first_not_of(blanks, end);
    }
    return normalized;
}

// The key as a literal of a pattern, each space matching any run of white space.
std::string keyPattern(std::string_view key) {
    std::string pattern;
    for (const char c : key) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ' ')
            pattern += "\\s+";
        else if (byte < 0x80 && !std::isalnum(byte))
            pattern.append({'\\', c}); // a backslash makes any other ASCII character literal
        else
            pattern += c;
    }
    return pattern;
}

// Controls other than the tab would reach the engines, which expect clean text.
std::optional<std::string> controlCharacter(std::string_view line) {
    const auto isControl = [](unsigned char byte, unsigned char next) {
        return (byte < 0x20 && byte != '\t') || byte == 0x7F || (byte == 0xC2 && next < 0xA0);
    };
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        const auto next = i + 1 < line.size() ? static_cast<unsigned char>(line[i + 1]) : 0xFF;
        if (isControl(byte, next)) {
            char name[16];
            std::snprintf(name, sizeof name, "U+%04X", byte == 0xC2 ? next : byte);
            return std::string(name);
        }
    }
    return std::nullopt;
}

SpeechError tooLong(const std::string& location) {
    return SpeechError(location + ": the lexicon makes the text more than " +
                       std::to_string(maximumGrowth) + " times as long");
}

std::string displayName(const std::filesystem::path& file) {
    return isPlainName(file.native()) ? file.native() : quotedName(file.native());
}

constexpr std::size_t maximumLineLength = std::size_t{64} << 10;

FileError lineTooLong(std::string_view sourceName, std::size_t lineNumber) {
    return FileError(std::string(sourceName) + ":" + std::to_string(lineNumber) +
                     ": a line longer than 64 KiB");
}

// A lexicon file's lines, read in pieces of bounded size: a device without line breaks such
// as /dev/zero is refused at its first line over the limit. The file is opened without
// blocking and waited for in short steps, so that a FIFO with no writer holds the loading no
// longer than until the next stop check.
class LexiconFileLines {
public:
    LexiconFileLines(const std::filesystem::path& file, std::string sourceName,
                     const Lexicon::StopCheck& stopIfAsked)
        : file_(file), sourceName_(std::move(sourceName)), stopIfAsked_(stopIfAsked),
          fd_(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
        if (!fd_)
            throw failure(std::strerror(errno));
    }

    // The next line without its line break, valid until the next call; nothing at the end.
    std::optional<std::string_view> next() {
        for (;;) {
            const std::size_t newline = buffer_.find('\n', scanned_);
            if (newline != std::string::npos)
                return line(newline, newline + 1);
            scanned_ = buffer_.size();
            if (buffer_.size() - lineStart_ > maximumLineLength)
                throw lineTooLong(sourceName_, lineNumber_ + 1);
            if (ended_) {
                if (lineStart_ == buffer_.size())
                    return std::nullopt;
                return line(buffer_.size(), buffer_.size());
            }
            buffer_.erase(0, lineStart_);
            scanned_ -= lineStart_;
            lineStart_ = 0;
            readPiece();
        }
    }

    std::size_t lineNumber() const { return lineNumber_; }

private:
    std::string_view line(std::size_t end, std::size_t nextStart) {
        ++lineNumber_;
        const std::string_view text =
            std::string_view(buffer_).substr(lineStart_, end - lineStart_);
        lineStart_ = nextStart;
        scanned_ = nextStart;
        return text;
    }

    void stopIfAsked() const {
        if (stopIfAsked_)
            stopIfAsked_();
    }

    void readPiece() {
        constexpr int stopCheckMilliseconds = 100;
        char piece[65536];
        for (;;) {
            stopIfAsked();
            pollfd watched{.fd = fd_.get(), .events = POLLIN, .revents = 0};
            const int ready = ::poll(&watched, 1, stopCheckMilliseconds);
            if (ready < 0 && errno != EINTR)
                throw failure(std::strerror(errno));
            if (ready <= 0)
                continue;
            const ssize_t count = ::read(fd_.get(), piece, sizeof piece);
            if (count < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (count < 0)
                throw failure(std::strerror(errno));
            ended_ = count == 0;
            total_ += static_cast<std::size_t>(count);
            if (total_ > maximumFileSize)
                throw failure("it is larger than " + sizeInWords(maximumFileSize));
            buffer_.append(piece, static_cast<std::size_t>(count));
            return;
        }
    }

    FileError failure(const std::string& reason) const {
        return FileError("cannot read the lexicon " + quotedName(file_.native()) + ": " + reason);
    }

    std::filesystem::path file_;
    std::string sourceName_;
    const Lexicon::StopCheck& stopIfAsked_;
    UniqueFd fd_;
    std::string buffer_;
    std::size_t lineStart_ = 0; // where the next line starts
    std::size_t scanned_ = 0;   // searched for a line break up to here
    std::size_t lineNumber_ = 0;
    std::size_t total_ = 0;
    bool ended_ = false;
};

} // namespace

Lexicon::Lexicon() = default;

Lexicon Lexicon::load(const std::vector<std::filesystem::path>& files,
                      const StopCheck& stopIfAsked) {
    Entries entries;
    for (const auto& file : files) {
        const std::string sourceName = displayName(file);
        LexiconFileLines lines(file, sourceName, stopIfAsked);
        while (const auto line = lines.next()) {
            addLine(*line, sourceName, lines.lineNumber(), entries);
            if (stopIfAsked)
                stopIfAsked();
        }
    }
    return build(std::move(entries), stopIfAsked);
}

Lexicon Lexicon::parse(std::string_view content, std::string_view sourceName) {
    Entries entries;
    for (std::size_t lineNumber = 1; !content.empty(); ++lineNumber) {
        const std::size_t end = std::min(content.find('\n'), content.size());
        addLine(content.substr(0, end), sourceName, lineNumber, entries);
        content.remove_prefix(std::min(end + 1, content.size()));
    }
    return build(std::move(entries), {});
}

void Lexicon::addLine(std::string_view line, std::string_view sourceName, std::size_t lineNumber,
                      Entries& entries) {
    if (lineNumber == 1 && line.starts_with("\xEF\xBB\xBF"))
        line.remove_prefix(3);
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    if (line.size() > maximumLineLength)
        throw lineTooLong(sourceName, lineNumber);

    const std::string location = std::string(sourceName) + ":" + std::to_string(lineNumber);
    const auto bad = [&](const std::string& reason) {
        return FileError(location + ": " + reason);
    };
    try {
        RegularExpression::checkUtf8(line);
    } catch (const SpeechError& error) {
        throw bad(error.what());
    }
    if (const auto control = controlCharacter(line))
        throw bad("a control character (" + *control + ")");

    const std::string_view entry = trimmed(line);
    if (entry.empty() || entry.front() == '#')
        return;
    if (entry.front() == '/')
        return addPattern(entry, location, entries);

    const std::string_view body = beforeComment(entry);
    const std::size_t equals = body.find('=');
    if (equals == std::string_view::npos)
        throw bad("no \"=\" between the word and its replacement");
    std::string key = normalizedKey(body.substr(0, equals));
    if (key.empty())
        throw bad("no word before \"=\"");
    entries.words.push_back(
        Entry{std::move(key), spokenReplacement(body.substr(equals + 1)), location});
}

void Lexicon::addPattern(std::string_view entry, const std::string& location, Entries& entries) {
    const auto bad = [&](const std::string& reason) {
        return FileError(location + ": " + reason);
    };
    std::size_t close = 1;
    while (close < entry.size() && entry[close] != '/')
        close += entry[close] == '\\' ? 2 : 1;
    if (close >= entry.size())
        throw bad("the pattern has no closing / (write a / inside it as \\/)");
    std::string pattern(entry.substr(1, close - 1));
    if (pattern.empty())
        throw bad("an empty pattern");
    const std::string_view rest = trimmed(entry.substr(close + 1));
    if (!rest.starts_with('='))
        throw bad("no \"=\" after the pattern");
    std::optional<RegularExpression> expression;
    try {
        expression.emplace(pattern);
    } catch (const SpeechError& error) {
        throw bad(std::string("bad pattern: ") + error.what());
    }
    std::string replacement = spokenReplacement(rest.substr(1));
    try {
        expression->checkReplacement(replacement);
    } catch (const SpeechError& error) {
        throw bad(std::string("bad replacement: ") + error.what());
    }
    // A pattern given before keeps its place; looked up by key, so that a long list loads in
    // linear time.
    const auto [place, added] = entries.patternPlaces.try_emplace(pattern, entries.patterns.size());
    PatternRule rule{std::move(pattern), std::move(*expression), std::move(replacement), location};
    if (added)
        entries.patterns.push_back(std::move(rule));
    else
        entries.patterns[place->second] = std::move(rule);
}

Lexicon Lexicon::build(Entries entries, const StopCheck& stopIfAsked) {
    Lexicon lexicon;
    lexicon.patterns_ = std::move(entries.patterns);

    // The last entry for a key in any letter case wins.
    CaseFolder folder;
    std::map<std::u32string, std::size_t> latest;
    for (std::size_t i = 0; i < entries.words.size(); ++i)
        latest[folder.fold(entries.words[i].key).value_or(U"")] = i;
    std::vector<Entry> words;
    for (std::size_t i = 0; i < entries.words.size(); ++i)
        if (latest[folder.fold(entries.words[i].key).value_or(U"")] == i)
            words.push_back(std::move(entries.words[i]));
    // Longest first, so that the alternation, which takes the first alternative that matches,
    // takes the longest key.
    std::stable_sort(words.begin(), words.end(), [](const Entry& a, const Entry& b) {
        return characterCount(a.key) > characterCount(b.key);
    });

    const auto expressionOf = [&](std::size_t first, std::size_t last) {
        std::string pattern = "(?<![\\w\\p{M}])(?:";
        for (std::size_t i = first; i < last; ++i) {
            if (i > first)
                pattern += '|';
            pattern += keyPattern(words[i].key) + "(*:" + std::to_string(i) + ")";
        }
        pattern += ")(?![\\w\\p{M}])";
        return RegularExpression::unlessTooLarge(pattern, PCRE2_CASELESS);
    };
    // PCRE2's compiled form is bounded; a long list takes several expressions, halving the
    // share of each until it fits. Each share starts at twice the last one rather than at the
    // whole rest, so that the words are compiled a bounded number of times: the keys only get
    // shorter.
    std::size_t share = words.size();
    for (std::size_t first = 0; first < words.size();) {
        if (stopIfAsked)
            stopIfAsked();
        std::size_t last = first + std::min(share, words.size() - first);
        std::optional<RegularExpression> expression;
        while (!(expression = expressionOf(first, last))) {
            if (last - first == 1)
                throw FileError(words[first].location + ": the words are too long");
            last = first + (last - first) / 2;
        }
        lexicon.wordExpressions_.push_back(std::move(*expression));
        share = 2 * (last - first);
        first = last;
    }
    lexicon.words_ = std::move(words);
    return lexicon;
}

bool Lexicon::empty() const {
    return patterns_.empty() && words_.empty();
}

std::string Lexicon::apply(std::string_view text) const {
    if (empty())
        return std::string(text);
    try {
        RegularExpression::checkUtf8(text);
    } catch (const SpeechError& error) {
        throw SpeechError(std::string("the text to apply the lexicon to is no valid UTF-8: ") +
                          error.what());
    }
    // Chained patterns and long replacements could multiply the text without end.
    const std::size_t maximumLength = text.size() * maximumGrowth + 65536;
    std::string result(text);
    for (const PatternRule& rule : patterns_) {
        std::optional<std::string> replaced;
        try {
            replaced = rule.expression.replaceAll(result, rule.replacement, maximumLength);
        } catch (const SpeechError& error) {
            throw SpeechError(rule.location + ": the pattern " + quotedValue(rule.pattern) +
                              " cannot be applied: " + error.what());
        }
        if (!replaced)
            throw tooLong(rule.location);
        result = std::move(*replaced);
    }
    if (wordExpressions_.empty())
        return result;
    if (!patterns_.empty())
        RegularExpression::checkUtf8(result); // a fault of ours, not UB in the word search
    return replaceWords(result, maximumLength);
}

std::string Lexicon::replaceWords(std::string_view text, std::size_t maximumLength) const {
    // Each expression's next match, kept while it lies ahead; the earliest wins, and at the
    // same place the expression of the longer keys.
    std::vector<std::optional<RegularExpression::Match>> next(wordExpressions_.size());
    std::vector<bool> searched(wordExpressions_.size(), false);
    std::string result;
    std::size_t offset = 0;
    for (;;) {
        std::optional<RegularExpression::Match> best;
        for (std::size_t i = 0; i < wordExpressions_.size(); ++i) {
            if (!searched[i] || (next[i] && next[i]->start < offset)) {
                next[i] = wordExpressions_[i].find(text, offset, true);
                searched[i] = true;
            }
            if (next[i] && (!best || next[i]->start < best->start))
                best = next[i];
        }
        if (!best)
            break;
        std::size_t index = 0;
        std::from_chars(best->mark.data(), best->mark.data() + best->mark.size(), index);
        result.append(text.substr(offset, best->start - offset));
        const Entry& word = words_.at(index);
        result += word.replacement;
        if (result.size() > maximumLength)
            throw tooLong(word.location);
        offset = best->end;
    }
    result.append(text.substr(offset));
    return result;
}

} // namespace kestrova::speech

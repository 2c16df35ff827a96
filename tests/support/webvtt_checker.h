#pragma once

// A WebVTT file checked against the W3C WebVTT format's rules for a valid file, written from
// them: UTF-8; the "WEBVTT" signature line; blocks separated by blank lines; NOTE, STYLE and
// REGION blocks (the last two only before the first cue); cues of an optional identifier, a
// timing line "START --> END" with timestamps ([hh+:]mm:ss.ttt, minutes and seconds below 60)
// and payload lines without "-->"; each cue ending after it starts and starting no earlier
// than the cue before; cue text whose '&' starts a character reference and whose '<' starts
// one of the format's tags.

#include "support/test_support.h"

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::test {

struct WebVttCue {
    std::string identifier;
    std::uint64_t startMilliseconds = 0;
    std::uint64_t endMilliseconds = 0;
    std::vector<std::string> lines; // as written, character references left as they are
};

struct WebVttCheck {
    std::vector<WebVttCue> cues;
    std::string error; // empty when the file is valid: "line N: what is wrong"

    bool valid() const { return error.empty(); }
};

namespace webvtt_detail {

// Lines split at CRLF, LF or CR, the three line terminators of the format.
inline std::vector<std::string> linesOf(std::string_view text) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(line);
            line.clear();
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            line += text[i];
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

inline std::optional<std::uint64_t> timestamp(const std::string& text) {
    static const std::regex form(R"(^(?:(\d{2,}):)?([0-5]\d):([0-5]\d)\.(\d{3})$)");
    std::smatch parts;
    if (!std::regex_match(text, parts, form))
        return std::nullopt;
    const std::uint64_t hours = parts[1].matched ? std::stoull(parts[1].str()) : 0;
    return ((hours * 60 + std::stoull(parts[2].str())) * 60 + std::stoull(parts[3].str())) * 1000 +
           std::stoull(parts[4].str());
}

// What is wrong with a line of cue text, or an empty string.
inline std::string cueTextFault(const std::string& line) {
    static const std::regex reference(R"(^&(amp|lt|gt|nbsp|lrm|rlm|#\d+|#[xX][0-9a-fA-F]+);)");
    static const std::regex tag(
        R"(^<(/?(c|i|b|u|ruby|rt|v|lang)([.][^\s.<>&]+)*(\s[^<>]*)?|\d{2,}:[0-5]\d:[0-5]\d\.\d{3}|[0-5]\d:[0-5]\d\.\d{3})>)");
    if (line.find("-->") != std::string::npos)
        return "\"-->\" in cue text";
    for (std::size_t i = 0; i < line.size(); ++i) {
        const std::string rest = line.substr(i, 64);
        if (line[i] == '&' && !std::regex_search(rest, reference))
            return "'&' that starts no character reference";
        if (line[i] == '<' && !std::regex_search(rest, tag))
            return "'<' that starts no cue tag";
    }
    return {};
}

} // namespace webvtt_detail

inline WebVttCheck checkWebVtt(std::string_view text) {
    using namespace webvtt_detail;
    WebVttCheck check;
    const auto fail = [&](std::size_t line, const std::string& what) {
        check.error = "line " + std::to_string(line + 1) + ": " + what;
        return check;
    };
    if (!isValidUtf8(text))
        return fail(0, "not UTF-8");
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    const std::vector<std::string> lines = linesOf(text);
    if (lines.empty() || !lines[0].starts_with("WEBVTT") ||
        (lines[0].size() > 6 && lines[0][6] != ' ' && lines[0][6] != '\t') ||
        lines[0].find("-->") != std::string::npos)
        return fail(0, "no WEBVTT signature line");
    if (lines.size() > 1 && !lines[1].empty())
        return fail(1, "no blank line after the signature");

    std::size_t at = 1;
    while (at < lines.size()) {
        if (lines[at].empty()) {
            ++at;
            continue;
        }
        // A block: the lines up to the next blank one.
        const std::size_t first = at;
        std::size_t end = at;
        while (end < lines.size() && !lines[end].empty())
            ++end;
        at = end;
        const std::string& head = lines[first];
        const bool noteBlock =
            head == "NOTE" || head.starts_with("NOTE ") || head.starts_with("NOTE\t");
        const bool headerBlock = head == "STYLE" || head == "REGION" ||
                                 head.starts_with("STYLE ") || head.starts_with("REGION ");
        if (noteBlock || headerBlock) {
            if (headerBlock && !check.cues.empty())
                return fail(first, "a STYLE or REGION block after a cue");
            for (std::size_t i = first; i < end; ++i)
                if (lines[i].find("-->") != std::string::npos)
                    return fail(i, "\"-->\" in a " + head.substr(0, head.find(' ')) + " block");
            continue;
        }
        WebVttCue cue;
        std::size_t timing = first;
        if (head.find("-->") == std::string::npos) {
            cue.identifier = head;
            timing = first + 1;
        }
        if (timing >= end)
            return fail(first, "a block without a timing line");
        static const std::regex timingLine(R"(^(\S+)[ \t]+-->[ \t]+(\S+)([ \t]+.*)?$)");
        std::smatch parts;
        if (!std::regex_match(lines[timing], parts, timingLine))
            return fail(timing, "not a timing line: " + lines[timing]);
        const auto start = timestamp(parts[1].str());
        const auto finish = timestamp(parts[2].str());
        if (!start || !finish)
            return fail(timing, "a malformed timestamp: " + lines[timing]);
        if (*finish <= *start)
            return fail(timing, "a cue that does not end after it starts");
        if (!check.cues.empty() && *start < check.cues.back().startMilliseconds)
            return fail(timing, "a cue that starts before the one before it");
        cue.startMilliseconds = *start;
        cue.endMilliseconds = *finish;
        for (std::size_t i = timing + 1; i < end; ++i) {
            if (const std::string fault = cueTextFault(lines[i]); !fault.empty())
                return fail(i, fault);
            cue.lines.push_back(lines[i]);
        }
        check.cues.push_back(std::move(cue));
    }
    return check;
}

} // namespace kestrova::test

#include "speech/text/readers/markdown/markdown_sections.h"

#include "speech/ascii.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <set>

namespace kestrova::speech {

namespace {

std::size_t nodeMarksIn(std::string_view line) {
    static constexpr auto isMark = [] {
        std::array<bool, 256> table{};
        for (const unsigned char c : std::string_view("*_`[]!<>&\\-+|~#:w@"))
            table[c] = true;
        return table;
    }();
    std::size_t marks = 1; // its line end
    for (const char c : line)
        marks += isMark[static_cast<unsigned char>(c)];
    return marks;
}

bool isBlank(std::string_view line) {
    return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

// Columns of indentation, a tab to the next stop of four.
std::size_t indentOf(std::string_view line) {
    std::size_t columns = 0;
    for (const char c : line) {
        if (c == ' ')
            ++columns;
        else if (c == '\t')
            columns += 4 - columns % 4;
        else
            break;
    }
    return columns;
}

// A table's delimiter row: "|---|:-:|", "--- | ---".
bool isDelimiterRow(std::string_view line) {
    return line.find('|') != std::string_view::npos && line.find('-') != std::string_view::npos &&
           line.find_first_not_of("|-: \t\r") == std::string_view::npos;
}

// The cells a line would make as a table row: its cell bars not escaped, less the outer ones.
std::size_t cellsOf(std::string_view line) {
    std::size_t bars = 0;
    for (std::size_t i = 0; i < line.size(); ++i)
        bars += line[i] == '|' && (i == 0 || line[i - 1] != '\\');
    const std::size_t first = line.find_first_not_of(" \t");
    const std::size_t last = line.find_last_not_of(" \t\r");
    if (first == std::string_view::npos)
        return 0;
    const std::size_t outer = (line[first] == '|') + (last != first && line[last] == '|');
    return bars + 1 - std::min(bars + 1, outer);
}

// The blocks that run over blank lines: fenced code, and the HTML blocks that end at a marker.
class OpenBlock {
public:
    bool open() const { return !closing_.empty() || fence_ != 0; }

    // Takes a line at the top level; the lines after an opening belong to the block.
    void take(std::string_view line) {
        if (fence_ != 0) {
            const std::string_view rest = line.substr(std::min(line.size(), indentOf(line)));
            const std::size_t run = std::min(rest.find_first_not_of(fence_), rest.size());
            if (indentOf(line) <= 3 && run >= fenceLength_ && isBlank(rest.substr(run)))
                fence_ = 0;
            return;
        }
        if (!closing_.empty()) {
            if (asciiLower(line).find(closing_) != std::string::npos)
                closing_.clear();
            return;
        }
        if (indentOf(line) > 3 || isBlank(line))
            return;
        const std::string_view rest = line.substr(line.find_first_not_of(" \t"));
        for (const char fence : {'`', '~'}) {
            const std::size_t run = std::min(rest.find_first_not_of(fence), rest.size());
            if (run >= 3 &&
                (fence == '~' || rest.substr(run).find('`') == std::string_view::npos)) {
                fence_ = fence;
                fenceLength_ = run;
                return;
            }
        }
        if (rest.starts_with('<'))
            opensHtml(asciiLower(rest));
    }

private:
    void opensHtml(const std::string& rest) {
        static constexpr std::pair<const char*, const char*> blocks[] = {
            {"<script", "</script>"},     {"<pre", "</pre>"}, {"<style", "</style>"},
            {"<textarea", "</textarea>"}, {"<!--", "-->"},    {"<?", "?>"},
            {"<![cdata[", "]]>"},
        };
        for (const auto& [opening, closing] : blocks)
            if (rest.starts_with(opening)) {
                if (rest.find(closing, std::strlen(opening)) == std::string::npos)
                    closing_ = closing;
                return;
            }
        if (rest.size() > 2 && rest[0] == '<' && rest[1] == '!' && rest[2] >= 'a' &&
            rest[2] <= 'z' && rest.find('>') == std::string::npos)
            closing_ = ">";
    }

    char fence_ = 0;
    std::size_t fenceLength_ = 0;
    std::string closing_;
};

struct Line {
    std::string_view text;
    std::size_t begin = 0;
};

std::vector<Line> linesOf(std::string_view text) {
    std::vector<Line> lines;
    // Lines end as cmark ends them: at "\n", "\r\n" or "\r".
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = at;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        lines.push_back({.text = text.substr(at, end - at), .begin = at});
        at = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
    }
    return lines;
}

// A reference's or footnote's definition: "[label]: ..." at the margin; its label lowered.
std::optional<std::string> definedLabel(std::string_view line) {
    if (indentOf(line) > 3 || isBlank(line))
        return std::nullopt;
    line.remove_prefix(line.find_first_not_of(" \t"));
    const std::size_t close = line.find("]:");
    if (!line.starts_with('[') || close == std::string_view::npos || close < 2 ||
        line.substr(1, close - 1).find_first_of("[]") != std::string_view::npos)
        return std::nullopt;
    return asciiLower(line.substr(1, close - 1));
}

// A chunk: the lines from one cut to the next.
struct Chunk {
    std::size_t firstLine = 0; // index
    std::size_t lineCount = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t marks = 0;
};

class Sectioning {
public:
    Sectioning(std::string_view text, const MarkdownSectionLimits& limits)
        : text_(text), limits_(limits), lines_(linesOf(text)) {}

    MarkdownSections run() {
        MarkdownSections result;
        result.fault = scan();
        if (result.fault)
            return result;
        std::size_t marks = 0;
        for (const Chunk& chunk : chunks_)
            marks += chunk.marks;
        if (text_.size() <= limits_.bytes && marks <= limits_.marks) {
            result.sections.push_back({.begin = 0,
                                       .end = text_.size(),
                                       .firstLine = 1,
                                       .lines = static_cast<int>(lines_.size()),
                                       .definitions = {}});
            return result;
        }
        for (const Chunk& chunk : chunks_)
            if (chunk.end - chunk.begin > limits_.bytes || chunk.marks > limits_.marks) {
                result.fault = MarkdownSectionFault{
                    .line = static_cast<int>(chunk.firstLine + 1),
                    .reason = "a block of more than " + std::to_string(limits_.bytes >> 20) +
                              " MiB or " + std::to_string(limits_.marks) +
                              " marks without a blank line to part it, the most read at once"};
                return result;
            }
        result.sections = sections();
        return result;
    }

private:
    std::optional<MarkdownSectionFault> scan() {
        OpenBlock block;
        bool delimiterRow = false;
        std::optional<std::size_t> wideRow;
        bool blankBefore = false;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            const std::string_view line = lines_[i].text;
            const bool blank = isBlank(line);
            const bool cut = i > 0 && blankBefore && !blank && indentOf(line) == 0 && !block.open();
            if (i == 0 || cut)
                chunks_.push_back({.firstLine = i,
                                   .lineCount = 0,
                                   .begin = lines_[i].begin,
                                   .end = 0,
                                   .marks = 0});
            Chunk& chunk = chunks_.back();
            ++chunk.lineCount;
            chunk.end = i + 1 < lines_.size() ? lines_[i + 1].begin : text_.size();
            chunk.marks += nodeMarksIn(line);
            if (!block.open())
                if (const auto label = definedLabel(line))
                    definitions_.emplace(*label, chunks_.size() - 1);
            block.take(line);
            delimiterRow = delimiterRow || isDelimiterRow(line);
            if (!wideRow && cellsOf(line) > limits_.rowCells)
                wideRow = i;
            blankBefore = blank;
        }
        if (delimiterRow && wideRow)
            return MarkdownSectionFault{.line = static_cast<int>(*wideRow + 1),
                                        .reason = "a table row of more than " +
                                                  std::to_string(limits_.rowCells) +
                                                  " cells, the most read"};
        return std::nullopt;
    }

    // Chunks joined while the limits allow.
    std::vector<MarkdownSection> sections() const {
        std::vector<MarkdownSection> sections;
        std::size_t marks = 0;
        std::size_t firstChunk = 0;
        for (std::size_t i = 0; i < chunks_.size(); ++i) {
            const Chunk& chunk = chunks_[i];
            const bool fits = !sections.empty() &&
                              chunk.end - sections.back().begin <= limits_.bytes &&
                              marks + chunk.marks <= limits_.marks;
            if (fits) {
                sections.back().end = chunk.end;
                sections.back().lines += static_cast<int>(chunk.lineCount);
                marks += chunk.marks;
                continue;
            }
            if (!sections.empty())
                sections.back().definitions = definitionsUsed(firstChunk, i);
            sections.push_back({.begin = chunk.begin,
                                .end = chunk.end,
                                .firstLine = static_cast<int>(chunk.firstLine + 1),
                                .lines = static_cast<int>(chunk.lineCount),
                                .definitions = {}});
            marks = chunk.marks;
            firstChunk = i;
        }
        if (!sections.empty())
            sections.back().definitions = definitionsUsed(firstChunk, chunks_.size());
        return sections;
    }

    // The definitions outside chunks [first, last) whose labels the chunks name in brackets.
    std::string definitionsUsed(std::size_t first, std::size_t last) const {
        if (definitions_.empty())
            return {};
        std::set<std::size_t> used;
        const std::string_view own =
            text_.substr(chunks_[first].begin, chunks_[last - 1].end - chunks_[first].begin);
        for (std::size_t open = own.find('['); open != std::string_view::npos;
             open = own.find('[', open + 1)) {
            const std::size_t close = own.find(']', open + 1);
            if (close == std::string_view::npos || close - open > 1000)
                continue;
            const auto found =
                definitions_.find(asciiLower(own.substr(open + 1, close - open - 1)));
            if (found != definitions_.end() && (found->second < first || found->second >= last))
                used.insert(found->second);
        }
        std::string definitions;
        for (const std::size_t chunk : used)
            definitions += std::string(text_.substr(chunks_[chunk].begin,
                                                    chunks_[chunk].end - chunks_[chunk].begin)) +
                           "\n\n";
        return definitions;
    }

    std::string_view text_;
    MarkdownSectionLimits limits_;
    std::vector<Line> lines_;
    std::vector<Chunk> chunks_;
    std::map<std::string, std::size_t> definitions_; // label: the chunk that defines it
};

} // namespace

MarkdownSections markdownSections(std::string_view text, const MarkdownSectionLimits& limits) {
    return Sectioning(text, limits).run();
}

} // namespace kestrova::speech

#include "speech/text/readers/html/mathml_speech.h"

#include "speech/ascii.h"
#include "speech/base/language_tag.h"
#include "speech/base/utf8.h"
#include "speech/text/readers/html/xhtml_elements.h"
#include "speech/text/readers/html/xhtml_page_tree.h"

#include <algorithm>
#include <array>
#include <vector>

namespace kestrova::speech::xhtml {

namespace {

// An operator's spoken words; "" where it is only grouping or spacing, as brackets and
// invisible times are.
struct OperatorWords {
    std::string_view symbol;
    std::string_view words;
};

constexpr OperatorWords operatorWords[] = {
    {"+", "plus"},
    {"-", "minus"},
    {"\u2212", "minus"},
    {"\u00B1", "plus or minus"},
    {"\u2213", "minus or plus"},
    {"\u00D7", "times"},
    {"\u22C5", "times"},
    {"\u00B7", "times"},
    {"*", "times"},
    {"\u2217", "times"},
    {"\u00F7", "divided by"},
    {"/", "over"},
    {"=", "equals"},
    {"\u2260", "is not equal to"},
    {"<", "is less than"},
    {">", "is greater than"},
    {"\u2264", "less than or equal to"},
    {"\u2265", "greater than or equal to"},
    {"\u2248", "is approximately equal to"},
    {"\u2261", "is equivalent to"},
    {"\u2245", "is congruent to"},
    {"\u223C", "is similar to"},
    {"\u221D", "is proportional to"},
    {"\u2208", "in"},
    {"\u2209", "not in"},
    {"\u220B", "contains"},
    {"\u2282", "is a subset of"},
    {"\u2286", "is a subset of or equal to"},
    {"\u2283", "is a superset of"},
    {"\u2287", "is a superset of or equal to"},
    {"\u222A", "union"},
    {"\u2229", "intersection"},
    {"\u2216", "minus"},
    {"\u2192", "to"},
    {"\u21A6", "maps to"},
    {"\u21D2", "implies"},
    {"\u21D4", "if and only if"},
    {"\u2200", "for all"},
    {"\u2203", "there exists"},
    {"\u00AC", "not"},
    {"\u2227", "and"},
    {"\u2228", "or"},
    {"\u2218", "composed with"},
    {"\u2297", "tensor"},
    {"\u2295", "direct sum"},
    {"\u22A5", "is perpendicular to"},
    {"\u2225", "is parallel to"},
    {"\u2223", "divides"},
    {"\u2211", "the sum of"},
    {"\u220F", "the product of"},
    {"\u222B", "the integral of"},
    {"\u222E", "the contour integral of"},
    {"\u2202", "partial"},
    {"\u2207", "nabla"},
    {"\u221E", "infinity"},
    {"!", "factorial"},
    {"\u2032", "prime"},
    {"\u2033", "double prime"},
    {"\u00B0", "degrees"},
    {"%", "percent"},
    {"\u2026", "dot dot dot"},
    {"\u22EF", "dot dot dot"},
    {":", "such that"},
    {"|", ""},
    {"\u2016", ""},
    {"(", ""},
    {")", ""},
    {"[", ""},
    {"]", ""},
    {"{", ""},
    {"}", ""},
    {"\u27E8", ""},
    {"\u27E9", ""},
    {"\u2061", ""}, // function application
    {"\u2062", ""}, // invisible times
    {"\u2063", ""}, // invisible separator
    {"\u2064", ""}, // invisible plus
};

// Marks over a letter, said after it: "x bar".
constexpr OperatorWords accentWords[] = {
    {"\u00AF", "bar"},   {"\u203E", "bar"},        {"_", "bar"},
    {"^", "hat"},        {"\u02C6", "hat"},        {"~", "tilde"},
    {"\u02DC", "tilde"}, {"\u2192", "vector"},     {"\u20D7", "vector"},
    {"\u02D9", "dot"},   {"\u00A8", "double dot"},
};

// Operators of a range: "the sum from i equals 1 to n of".
constexpr OperatorWords largeOperators[] = {
    {"\u2211", "the sum"},      {"\u220F", "the product"},
    {"\u222B", "the integral"}, {"\u222E", "the contour integral"},
    {"\u22C3", "the union"},    {"\u22C2", "the intersection"},
    {"lim", "the limit"},       {"max", "the maximum"},
    {"min", "the minimum"},
};

template <std::size_t N>
const OperatorWords* wordsIn(const OperatorWords (&table)[N], std::string_view symbol) {
    const auto found = std::find_if(std::begin(table), std::end(table),
                                    [&](const OperatorWords& row) { return row.symbol == symbol; });
    return found != std::end(table) ? found : nullptr;
}

// The letters and digits of Unicode's mathematical alphabets (bold, italic, double-struck...)
// as the plain ones they are read as.
std::string plainLetters(std::string_view text) {
    constexpr std::array<std::pair<int, char>, 7> doubleStruck = {{{0x2102, 'C'},
                                                                   {0x210D, 'H'},
                                                                   {0x2115, 'N'},
                                                                   {0x2119, 'P'},
                                                                   {0x211A, 'Q'},
                                                                   {0x211D, 'R'},
                                                                   {0x2124, 'Z'}}};
    std::string plain;
    for (std::size_t at = 0; at < text.size();) {
        const CodePoint point = codePointAt(text.substr(at));
        const int c = point.value;
        const auto named = std::find_if(doubleStruck.begin(), doubleStruck.end(),
                                        [c](const auto& pair) { return pair.first == c; });
        if (c >= 0x1D400 && c <= 0x1D6A3) {
            const int letter = (c - 0x1D400) % 52;
            plain.push_back(static_cast<char>(letter < 26 ? 'A' + letter : 'a' + letter - 26));
        } else if (c >= 0x1D7CE && c <= 0x1D7FF) {
            plain.push_back(static_cast<char>('0' + (c - 0x1D7CE) % 10));
        } else if (named != doubleStruck.end()) {
            plain.push_back(named->second);
        } else {
            plain.append(text.substr(at, point.length));
        }
        at += point.length;
    }
    return plain;
}

void appendTokenText(const xmlNode& node, std::string& text) {
    for (const xmlNode* child = node.children; child != nullptr; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)
            text.append(textOf(child->content));
        else if (child->type == XML_ENTITY_REF_NODE)
            text.append(entityText(textOf(child->name)));
        else if (child->type == XML_ELEMENT_NODE)
            appendTokenText(*child, text);
    }
}

std::string tokenText(const xmlNode& token) {
    std::string text;
    appendTokenText(token, text);
    return plainLetters(collapsedText(text));
}

// A set's letter (R, N, Z, Q, C, double-struck): its power is a dimension, "R n".
bool isSetLetter(const xmlNode& token) {
    if (asciiLower(attributeOf(token, "mathvariant").value_or("")) == "double-struck")
        return true;
    std::string text;
    appendTokenText(token, text);
    text = collapsedText(text);
    return text == "\u211D" || text == "\u2115" || text == "\u2124" || text == "\u211A" ||
           text == "\u2102";
}

std::vector<const xmlNode*> elementChildren(const xmlNode& parent) {
    std::vector<const xmlNode*> children;
    for (const xmlNode* child = parent.children; child != nullptr; child = child->next)
        if (child->type == XML_ELEMENT_NODE)
            children.push_back(child);
    return children;
}

// Words joined by spaces; a comma or semicolon stays with the word before it.
void addWords(std::string& to, std::string_view words) {
    if (words.empty())
        return;
    if (!to.empty() && words != "," && words != ";")
        to.push_back(' ');
    to.append(words);
}

// English, or no language at all ("", "C" as a locale writes it): the words are English's.
bool isEnglish(const std::string& language) {
    const std::optional<LanguageTag> tag = parsedLanguageTag(language);
    return !tag || tag->language == "en";
}

// Elements whose content is read in order and nothing more.
constexpr std::array<std::string_view, 8> groupNames = {"math",   "mrow",     "mstyle", "mpadded",
                                                        "merror", "menclose", "mtd",    "mfenced"};
// Elements that say nothing: spacing, what is drawn but not written, annotations.
constexpr std::array<std::string_view, 7> silentNames = {
    "mspace", "mphantom", "annotation", "annotation-xml", "none", "mprescripts", "malignmark"};

class FormulaReader {
public:
    explicit FormulaReader(bool words) : words_(words) {}

    std::string said(const xmlNode& element) {
        const std::string_view name = nameOf(element);
        if (name == "mi" || name == "mn" || name == "mtext" || name == "ms")
            return tokenText(element);
        if (name == "mo")
            return operatorSaid(tokenText(element));
        if (std::find(silentNames.begin(), silentNames.end(), name) != silentNames.end())
            return {};
        if (!words_ || std::find(groupNames.begin(), groupNames.end(), name) != groupNames.end())
            return inOrder(element, name == "mfenced" ? "," : "");
        return structureSaid(element, name);
    }

    std::set<std::string> unsaid;

private:
    std::string operatorSaid(const std::string& symbol) const {
        const OperatorWords* row = wordsIn(operatorWords, symbol);
        if (!words_) // as written, but what is not written at all
            return symbol >= "\u2061" && symbol <= "\u2064" ? std::string() : symbol;
        return row != nullptr ? std::string(row->words) : symbol;
    }

    std::string inOrder(const xmlNode& element, std::string_view between = "") {
        std::string text;
        for (const xmlNode* child : elementChildren(element)) {
            if (!text.empty())
                addWords(text, between);
            addWords(text, said(*child));
        }
        return text;
    }

    std::string structureSaid(const xmlNode& element, std::string_view name) {
        const std::vector<const xmlNode*> parts = elementChildren(element);
        const auto part = [&](std::size_t at) {
            return at < parts.size() ? said(*parts[at]) : std::string();
        };
        if (name == "semantics" || name == "maction")
            return parts.empty() ? std::string() : said(*parts.front());
        if (name == "mfrac")
            return fraction(part(0), part(1));
        if (name == "msqrt")
            return "the square root of " + inOrder(element);
        if (name == "mroot")
            return root(part(0), part(1));
        if (name == "mtable")
            return rows(parts);
        if (name == "mtr" || name == "mlabeledtr")
            return inOrder(element, ",");
        if (name == "msub" || name == "msup" || name == "msubsup" || name == "munder" ||
            name == "mover" || name == "munderover")
            return scripted(name, parts);
        unsaid.emplace(name);
        return inOrder(element);
    }

    static std::string fraction(const std::string& over, const std::string& under) {
        const bool simple =
            over.find(' ') == std::string::npos && under.find(' ') == std::string::npos;
        return (simple ? "" : "the fraction ") + over + " over " + under;
    }

    static std::string root(const std::string& base, const std::string& index) {
        if (index == "2")
            return "the square root of " + base;
        if (index == "3")
            return "the cube root of " + base;
        return "the root of order " + index + " of " + base;
    }

    std::string rows(const std::vector<const xmlNode*>& parts) {
        std::string text;
        for (const xmlNode* row : parts) {
            if (!text.empty())
                addWords(text, ";");
            addWords(text, said(*row));
        }
        return text;
    }

    static std::string power(const std::string& base, const std::string& exponent) {
        if (exponent == "2")
            return base + " squared";
        if (exponent == "3")
            return base + " cubed";
        // Primes and an asterisk (said "times" between two terms) mark the base, no power.
        if (exponent == "prime" || exponent == "double prime" || exponent == "times")
            return base + " " + (exponent == "times" ? "star" : exponent);
        return base + " to the power of " + exponent;
    }

    // Sub- and superscripts, and what stands under and over: the base first, then its scripts.
    std::string scripted(std::string_view name, const std::vector<const xmlNode*>& parts) {
        if (parts.empty())
            return {};
        const std::string base = said(*parts[0]);
        const std::string first = parts.size() > 1 ? said(*parts[1]) : std::string();
        const std::string second = parts.size() > 2 ? said(*parts[2]) : std::string();
        const OperatorWords* large = wordsIn(largeOperators, tokenText(*parts[0]));
        const bool ranged = name == "msubsup" || name == "munderover";
        if (large != nullptr && name != "msup" && name != "mover")
            return std::string(large->words) +
                   (large->symbol == "lim" ? " as "
                    : ranged               ? " from "
                                           : " over ") +
                   first + (ranged ? " to " + second : std::string()) + " of";
        if (name == "msub")
            return base + " sub " + first;
        if (name == "msup")
            return isSetLetter(*parts[0]) ? base + " " + first : power(base, first);
        if (name == "msubsup")
            return power(base + " sub " + first, second);
        if (name == "mover")
            return overscript(base, *parts[std::min<std::size_t>(1, parts.size() - 1)], first);
        if (name == "munder")
            return base + " with " + first + " below";
        return base + " with " + first + " below and " + second + " above";
    }

    static std::string overscript(const std::string& base, const xmlNode& over,
                                  const std::string& said) {
        if (const OperatorWords* accent = wordsIn(accentWords, tokenText(over)))
            return base + " " + std::string(accent->words);
        return base + " with " + said + " above";
    }

    const bool words_;
};

} // namespace

FormulaSpeech formulaSpeech(const xmlNode& math, const std::string& language) {
    if (std::optional<std::string> alttext = attributeOf(math, "alttext"))
        if (std::string text = collapsedText(*alttext); !text.empty())
            return {.text = std::move(text), .unsaid = {}, .tokensOnly = false};
    const bool words = isEnglish(language);
    FormulaReader reader(words);
    std::string text = reader.said(math);
    return {.text = std::move(text), .unsaid = std::move(reader.unsaid), .tokensOnly = !words};
}

} // namespace kestrova::speech::xhtml

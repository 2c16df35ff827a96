#include "speech/text/readers/plain/scene_break_lines.h"

#include "speech/base/scene_break.h"
#include "speech/base/utf8.h"

namespace kestrova::speech {

namespace {

// A line longer than this is the text's, whatever it holds.
constexpr std::size_t longestBreakBytes = 4096;

// The length of a UTF-8 sequence by its first byte; 1 for a byte that begins none.
std::size_t sequenceLength(unsigned char lead) {
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

} // namespace

std::string SceneBreakLines::push(std::string_view piece) {
    std::string out;
    out.reserve(piece.size());
    for (char byte : piece)
        take(byte, out);
    return out;
}

std::string SceneBreakLines::finish() {
    std::string out;
    endLine(out);
    return out;
}

void SceneBreakLines::take(char byte, std::string& out) {
    if (byte == '\n') {
        endLine(out);
        out.push_back(byte);
        passing_ = false;
        return;
    }
    if (passing_) {
        out.push_back(byte);
        return;
    }
    held_.push_back(byte);
    if (!heldMayBeBreak()) {
        out += held_;
        held_.clear();
        passing_ = true;
    }
}

// Whether the line held may still be a break: its last whole character is a mark or a space
// (a carriage return of a CR LF line end among them), and it is short.
bool SceneBreakLines::heldMayBeBreak() const {
    if (held_.size() > longestBreakBytes)
        return false;
    std::size_t lead = held_.size() - 1;
    while (lead > 0 && isContinuationByte(held_[lead]))
        --lead;
    const std::string_view last = std::string_view(held_).substr(lead);
    if (last.size() < sequenceLength(static_cast<unsigned char>(last.front())))
        return true; // the character is not whole yet
    return last == "\r" || mayBeInSceneBreak(codePointAt(last).value);
}

void SceneBreakLines::endLine(std::string& out) {
    std::string_view line = held_;
    const bool carriageReturn = line.ends_with('\r'); // of a CR LF line end, kept
    if (carriageReturn)
        line.remove_suffix(1);
    if (isSceneBreak(line))
        out.append(line.size(), ' ').append(carriageReturn ? "\r" : "");
    else
        out += held_;
    held_.clear();
}

} // namespace kestrova::speech

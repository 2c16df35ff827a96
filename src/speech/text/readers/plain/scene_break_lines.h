#pragma once

#include <string>
#include <string_view>

namespace kestrova::speech {

// Blanks the lines of a plain text that hold only the marks a book sets between scenes
// ("* * *", "— — —", isSceneBreak): each of their bytes but the line end becomes a space, so
// that the text keeps its length and the places of its bytes, and the line is a paragraph's
// end, read as one pause rather than as the marks' names or a pause each. Fed the text in
// pieces as it arrives; only a line that may still be such a line is held back, at most 4 KiB
// of it.
class SceneBreakLines {
public:
    // What is ready to pass on after piece: all the text so far but the line held back.
    std::string push(std::string_view piece);
    // The line held back, at the text's end.
    std::string finish();

private:
    void take(char byte, std::string& out);
    void endLine(std::string& out);
    bool heldMayBeBreak() const;

    std::string held_;     // the line so far, while it holds only marks and spaces
    bool passing_ = false; // the line holds other text: passed on as it comes
};

} // namespace kestrova::speech

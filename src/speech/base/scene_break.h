#pragma once

#include <string_view>

namespace kestrova::speech {

// Whether a text is only marks that a book sets between scenes: dashes, asterisks, bullets,
// dots, ornaments, with spaces ("* * *", "— — —", "⁂"). Engines read them as a pause each or
// by their names; no reader hands such a block or paragraph to an engine, so that the break
// is the one pause between two paragraphs.
bool isSceneBreak(std::string_view text);
// Whether the character may stand in such a text: one of its marks or spaces.
bool mayBeInSceneBreak(int codePoint);

} // namespace kestrova::speech

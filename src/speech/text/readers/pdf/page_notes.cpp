#include "speech/text/readers/pdf/page_notes.h"

#include "speech/text/readers/pdf/page_lines.h"

#include <algorithm>
#include <vector>

namespace kestrova::speech::pdf {

bool beginsNote(const PdfLine& line) {
    const std::size_t end = line.text.find_first_of(" .)");
    return end != std::string::npos && end > 0 && isNoteMark(line.text.substr(0, end));
}

std::size_t markFootnotes(PdfPage& page, double bodySize) {
    std::vector<PdfLine*> foot; // from the last line of the reading up
    double bodyBottom = 0;
    bool inFoot = true;
    for (auto line = page.lines.rbegin(); line != page.lines.rend(); ++line) {
        if (line->role == LineRole::Furniture)
            continue;
        inFoot = inFoot && line->size < 0.9 * bodySize;
        if (inFoot)
            foot.push_back(&*line);
        else
            bodyBottom = std::max(bodyBottom, line->bottom);
    }
    while (!foot.empty() && !beginsNote(*foot.back()))
        foot.pop_back(); // small print of the body's own, above the notes
    if (foot.empty() || bodyBottom == 0 || foot.back()->top < bodyBottom - 1)
        return 0;
    std::size_t notes = 0;
    for (PdfLine* line : foot) {
        line->role = LineRole::Note;
        notes += beginsNote(*line);
    }
    return notes;
}

} // namespace kestrova::speech::pdf

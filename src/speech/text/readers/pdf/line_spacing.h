#pragma once

#include "speech/text/readers/pdf/pdf_page.h"

#include <map>
#include <vector>

namespace kestrova::speech::pdf {

// How far apart the lines of one paragraph stand in the document, for each font size: the
// median advance from one line's top to the next's among body lines of that size that follow
// one another down a page.
class LineSpacing {
public:
    explicit LineSpacing(const std::vector<PdfPage>& pages);

    // The usual advance for lines of this size (1.2 times it where none was measured).
    double advance(double size) const;

private:
    static int sizeKey(double size);

    std::map<int, double> advances_;
};

// The font size most of the document's body characters have.
double bodySize(const std::vector<PdfPage>& pages);

} // namespace kestrova::speech::pdf

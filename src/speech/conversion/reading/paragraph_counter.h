#pragma once

namespace kestrova::speech {

// Numbers the paragraphs of sentences that arrive in speaking order, from 1: a sentence that
// begins a paragraph, other than the first sentence, begins the next number.
class ParagraphCounter {
public:
    unsigned next(bool beginsParagraph) {
        if (beginsParagraph && counted_)
            ++paragraph_;
        counted_ = true;
        return paragraph_;
    }

private:
    unsigned paragraph_ = 1;
    bool counted_ = false;
};

} // namespace kestrova::speech

#include "speech/text/readers/office/office_blocks.h"

#include "speech/base/clean_text.h"
#include "speech/base/scene_break.h"
#include "speech/speech_error.h"
#include "speech/text/readers/office/office_package.h"

namespace kestrova::speech {

void OfficeBlocks::end(const std::string& source, int headingLevel) {
    if (text_.empty())
        return;
    if (isSceneBreak(text_.text())) {
        text_.take();
        return;
    }
    if (headingLevel > 0 && headingLevel == chapterLevel_)
        sink_.chapter(cleanText(text_.text()));
    sink_.block({.runs = text_.take(), .source = source, .page = {}});
    if (options_.cancel != nullptr && options_.cancel->load())
        throw ConversionCancelled(documentFailure(document_, "the reading was cancelled"));
}

} // namespace kestrova::speech

#include "speech/text/readers/pdf/poppler_reports.h"

#include "speech/base/clean_text.h"
#include "speech/base/utf8.h"

#include <poppler-global.h>

namespace kestrova::speech {
namespace {

void dropReport(const std::string&, void*) {}

// The longest report kept: a damaged file can make poppler quote pages of its bytes.
constexpr std::size_t longestReport = 200;

} // namespace

PopplerReports::PopplerReports() {
    poppler::set_debug_error_function(&PopplerReports::receive, this);
}

PopplerReports::~PopplerReports() {
    poppler::set_debug_error_function(dropReport, nullptr);
}

void PopplerReports::receive(const std::string& report, void* reports) {
    auto& self = *static_cast<PopplerReports*>(reports);
    if (self.count_++ > 0)
        return;
    std::string said = cleanText(report);
    for (const std::string_view prefix : {"poppler/", "error: ", "error"})
        if (said.starts_with(prefix))
            said.erase(0, prefix.size());
    if (said.size() > longestReport)
        said = said.substr(0, characterCut(said, longestReport)) + "...";
    self.first_ = cleanText(said);
}

} // namespace kestrova::speech

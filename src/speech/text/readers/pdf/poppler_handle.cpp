#include "speech/text/readers/pdf/poppler_handle.h"

#include "speech/speech_error.h"
#include "speech/text/readers/pdf/pdf_failure.h"
#include "speech/text/readers/pdf/poppler_reports.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <unicode/ustring.h>

namespace kestrova::speech {
// ICU's conversion, an unpaired surrogate taken as U+FFFD; poppler's own goes through iconv,
// which gives up on one. NUL characters some producers leave in their strings are dropped.
std::string utf8Of(const poppler::ustring& text) {
    static_assert(sizeof(poppler::ustring::value_type) == sizeof(UChar));
    const auto* units = reinterpret_cast<const UChar*>(text.data());
    const auto length =
        static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX / 3));
    std::string out(static_cast<std::size_t>(length) * 3, '\0');
    std::int32_t written = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<std::int32_t>(out.size()), &written, units, length,
                       0xFFFD, nullptr, &status);
    out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(written) : 0);
    std::erase(out, '\0');
    return out;
}

PopplerHandle::PopplerHandle(std::string bytes, const std::filesystem::path& name)
    : bytes_(std::move(bytes)) {
    if (bytes_.size() > static_cast<std::size_t>(INT_MAX))
        throw FileError(pdfFailure(name, "it is too large to read"));
    const PopplerReports reports;
    document_.reset(
        poppler::document::load_from_raw_data(bytes_.data(), static_cast<int>(bytes_.size())));
    if (!document_)
        throw FileError(pdfFailure(
            name, "it is damaged or not a PDF document" +
                      (reports.first().empty() ? std::string() : " (" + reports.first() + ")")));
    if (document_->is_locked())
        throw FileError(pdfFailure(
            name, "it is protected by a password: it can be read once that is taken off"));
}

} // namespace kestrova::speech

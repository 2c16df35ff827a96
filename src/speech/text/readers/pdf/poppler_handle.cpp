#include "speech/text/readers/pdf/poppler_handle.h"

#include "speech/base/utf8.h"
#include "speech/speech_error.h"
#include "speech/text/readers/pdf/pdf_failure.h"
#include "speech/text/readers/pdf/poppler_reports.h"

#include <climits>

namespace kestrova::speech {
namespace {

void appendCodePoint(std::string& out, char32_t value) {
    if (value < 0x80) {
        out += static_cast<char>(value);
    } else if (value < 0x800) {
        out += static_cast<char>(0xC0 | (value >> 6));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
        out += static_cast<char>(0xE0 | (value >> 12));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (value >> 18));
        out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    }
}

bool isHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

} // namespace

std::string utf8Of(const poppler::ustring& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        if (unit == 0)
            continue;
        if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            appendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            out += replacementCharacter;
        } else {
            appendCodePoint(out, unit);
        }
    }
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

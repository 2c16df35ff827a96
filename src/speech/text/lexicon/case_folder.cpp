#include "case_folder.h"

#include "speech/speech_error.h"

#include <cerrno>
#include <cstring>
#include <wctype.h>

namespace kestrova::speech {

CaseFolder::CaseFolder()
    : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0))),
      decoder_("UTF-32LE", "UTF-8") {
    if (!locale_)
        throw SpeechError(std::string("cannot load the C.UTF-8 locale: ") + std::strerror(errno));
}

std::optional<std::u32string> CaseFolder::fold(std::string_view utf8) {
    decoded_.clear();
    decoder_.reset();
    if (decoder_.convert(utf8, decoded_) != IconvConverter::Stop::Done)
        return std::nullopt;
    std::u32string folded(decoded_.size() / 4, U'\0');
    for (std::size_t i = 0; i < folded.size(); ++i) {
        const auto byte = [&](std::size_t k) {
            return static_cast<char32_t>(static_cast<unsigned char>(decoded_[4 * i + k]));
        };
        const auto code =
            static_cast<wint_t>(byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24);
        // Lower case of the upper case: also folds letters with two lower forms (ς, σ).
        folded[i] =
            static_cast<char32_t>(towlower_l(towupper_l(code, locale_.get()), locale_.get()));
    }
    return folded;
}

bool CaseFolder::equal(std::string_view a, std::string_view b) {
    if (a == b)
        return true;
    const auto foldedA = fold(a);
    return foldedA && foldedA == fold(b);
}

} // namespace kestrova::speech

#pragma once

#include "speech/base/iconv_converter.h"

#include <locale.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace kestrova::speech {

// Folds UTF-8 text to one letter case for comparisons in any letter case, beyond ASCII:
// "ESPEAK NG MĀORI" and "eSpeak NG Māori" fold alike, as do "Σ", "σ" and "ς". Simple
// Unicode case mappings through the C library's C.UTF-8 tables, whatever the process's
// locale. A text that is no valid UTF-8 has no folded form, and equals only itself.
class CaseFolder {
public:
    CaseFolder();

    std::optional<std::u32string> fold(std::string_view utf8);
    bool equal(std::string_view a, std::string_view b);

private:
    struct LocaleFree {
        void operator()(locale_t locale) const { freelocale(locale); }
    };
    std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleFree> locale_;
    IconvConverter decoder_;
    std::string decoded_;
};

} // namespace kestrova::speech

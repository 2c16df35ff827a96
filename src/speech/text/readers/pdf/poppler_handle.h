#pragma once

#include <filesystem>
#include <memory>
#include <poppler-document.h>
#include <poppler-global.h>
#include <string>

namespace kestrova::speech {

// A PDF document opened by poppler from its bytes in memory, which it reads as it goes and
// so keeps for as long as the document lives.
class PopplerHandle {
public:
    // Throws FileError naming the file: a damaged file or one that is no PDF (with poppler's
    // reason where it gives one), a file that needs a password to open. A password that only
    // restricts what may be done with it (an owner password) does not stop it being read.
    PopplerHandle(std::string bytes, const std::filesystem::path& name);

    const poppler::document& document() const { return *document_; }

private:
    std::string bytes_;
    std::unique_ptr<poppler::document> document_;
};

// poppler's UTF-16 text as UTF-8: a lone surrogate becomes U+FFFD, a zero is left out.
std::string utf8Of(const poppler::ustring& text);

} // namespace kestrova::speech

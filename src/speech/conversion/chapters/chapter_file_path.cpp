#include "speech/conversion/chapters/chapter_file_path.h"

#include "speech/base/utf8.h"
#include "speech/text/lexicon/regular_expression.h"

#include <algorithm>

namespace kestrova::speech {
namespace {

constexpr std::size_t longestTitle = 80;
constexpr std::size_t longestFileName = 255; // NAME_MAX of the usual file systems

std::string fileNameTitle(const std::string& title) {
    static const RegularExpression apostrophe(R"((?<=\p{L})['’](?=\p{L}))");
    static const RegularExpression unsafeRun(R"([^\p{L}\p{M}\p{N}]+)");
    static const RegularExpression edgeSeparators(R"(^_+|_+$)");
    // Each pass makes the text no longer.
    const std::size_t bound = title.size() + 1;
    std::string safe = apostrophe.replaceAll(title, "", bound).value_or(title);
    safe = unsafeRun.replaceAll(safe, "_", bound).value_or(safe);
    return edgeSeparators.replaceAll(safe, "", bound).value_or(safe);
}

std::string cutAtCharacter(std::string text, std::size_t bytes) {
    text.resize(characterCut(text, bytes));
    while (!text.empty() && text.back() == '_')
        text.pop_back();
    return text;
}

} // namespace

std::filesystem::path chapterFilePath(const std::filesystem::path& output, unsigned number,
                                      const std::string& title, unsigned highestNumber) {
    const std::string digits = std::to_string(number);
    const std::size_t width =
        std::max<std::size_t>({2, digits.size(), std::to_string(highestNumber).size()});
    const std::string base =
        output.stem().string() + "-" + std::string(width - digits.size(), '0') + digits;
    const std::string extension = output.extension().string();
    const std::size_t room =
        longestFileName - std::min(longestFileName, base.size() + 1 + extension.size());
    const std::string safeTitle =
        cutAtCharacter(fileNameTitle(title), std::min(longestTitle, room));
    return output.parent_path() / (base + (safeTitle.empty() ? "" : "-" + safeTitle) + extension);
}

} // namespace kestrova::speech

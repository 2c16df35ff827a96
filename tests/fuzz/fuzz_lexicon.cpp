// The pronunciation lexicon: a list read, then applied to a text. The input up to its first
// zero byte is the list's file, the rest the text.

#include "fuzz_check.h"
#include "speech/speech_error.h"
#include "speech/text/lexicon/lexicon.h"
#include "support/test_support.h"

#include <string>

namespace {

using kestrova::test::isCleanText;

// "lexicon.txt:LINE: reason"
bool namesALine(std::string_view message) {
    constexpr std::string_view source = "lexicon.txt:";
    if (!message.starts_with(source))
        return false;
    message.remove_prefix(source.size());
    const std::size_t digits = message.find_first_not_of("0123456789");
    return digits > 0 && digits != std::string_view::npos && message.substr(digits, 2) == ": " &&
           message.size() > digits + 2;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrova::speech;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string_view content = input.substr(0, split);
    // A short text: a pattern may take its match limit at every position, by design.
    const std::string_view text =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 1, 256);

    std::optional<Lexicon> lexicon;
    try {
        lexicon.emplace(Lexicon::parse(content, "lexicon.txt"));
    } catch (const FileError& error) {
        FUZZ_CHECK(namesALine(error.what()));
        return 0;
    }
    if (lexicon->empty()) {
        FUZZ_CHECK(lexicon->apply(text) == text);
        return 0;
    }
    try {
        const std::string spoken = lexicon->apply(text);
        // Clean text stays clean: replacements hold no controls and groups copy whole
        // characters of the text.
        FUZZ_CHECK(kestrova::test::isValidUtf8(spoken));
        if (isCleanText(text))
            FUZZ_CHECK(isCleanText(spoken));
        FUZZ_CHECK(spoken.size() <= text.size() * 32 + 65536);
        FUZZ_CHECK(lexicon->apply(text) == spoken);
    } catch (const SpeechError& error) {
        // Text that is no UTF-8 is refused; otherwise only a pattern's limits stop the work.
        FUZZ_CHECK(!kestrova::test::isValidUtf8(text) || namesALine(error.what()));
    }
    return 0;
}

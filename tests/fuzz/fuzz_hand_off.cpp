// The hand-off string, as a host could send it: split at "%", spaces trimmed, the arguments
// joined with single spaces.

#include "app/hand_off.h"
#include "fuzz_check.h"

#include <string>
#include <vector>

namespace {

// raw is the field untrimmed: the field must be raw with its outer spaces (only those) gone.
bool isTrimmedFrom(std::string_view field, std::string_view raw) {
    const std::size_t at = raw.find(field);
    if (field.empty())
        return raw.find_first_not_of(' ') == std::string_view::npos;
    if (field.front() == ' ' || field.back() == ' ' || at == std::string_view::npos)
        return false;
    const std::string_view before = raw.substr(0, at);
    const std::string_view after = raw.substr(at + field.size());
    return before.find_first_not_of(' ') == std::string_view::npos &&
           after.find_first_not_of(' ') == std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrova::app;
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const auto handOff = parseHandOff(input);
    const std::size_t first = input.find('%');
    FUZZ_CHECK(handOff.has_value() == (first != std::string_view::npos));
    if (handOff) {
        const std::string_view rest = input.substr(first + 1);
        FUZZ_CHECK(isTrimmedFrom(handOff->EngineName, input.substr(0, first)));
        FUZZ_CHECK(isTrimmedFrom(handOff->FileToOpen, rest.substr(0, rest.find('%'))));
        FUZZ_CHECK(handOff->EngineName.find('%') == std::string::npos);
        FUZZ_CHECK(handOff->FileToOpen.find('%') == std::string::npos);
        // Trimming once more changes nothing.
        FUZZ_CHECK(trimSpaces(handOff->EngineName) == handOff->EngineName);
        FUZZ_CHECK(trimSpaces(handOff->FileToOpen) == handOff->FileToOpen);
    }

    // The same text as arguments (cut at NUL bytes, which no argument holds): joined with
    // single spaces, it is the text with a space for each NUL.
    std::vector<std::string> arguments{"kestrova-wav"};
    std::string expected;
    arguments.emplace_back();
    for (const char c : input) {
        if (c == '\0')
            arguments.emplace_back();
        else
            arguments.back().push_back(c);
        expected.push_back(c == '\0' ? ' ' : c);
    }
    std::vector<const char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    const std::string joined = handOffString(static_cast<int>(argv.size()), argv.data());
    FUZZ_CHECK(joined == expected);
    const auto fromArguments = parseHandOff(joined);
    FUZZ_CHECK(fromArguments.has_value() == handOff.has_value());
    return 0;
}

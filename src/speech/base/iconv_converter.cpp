#include "iconv_converter.h"

#include "speech/speech_error.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace kestrova::speech {
namespace {
const auto invalidDescriptor = reinterpret_cast<iconv_t>(-1);
}

IconvConverter::IconvConverter(const char* toCharset, const char* fromCharset)
    : descriptor_(iconv_open(toCharset, fromCharset)) {
    if (descriptor_ == invalidDescriptor)
        throw SpeechError(std::string("cannot convert text from ") + fromCharset + " to " +
                          toCharset + ": " + std::strerror(errno));
}

IconvConverter::~IconvConverter() {
    if (descriptor_ != invalidDescriptor)
        iconv_close(descriptor_);
}

IconvConverter::IconvConverter(IconvConverter&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, invalidDescriptor)) {}

IconvConverter& IconvConverter::operator=(IconvConverter&& other) noexcept {
    std::swap(descriptor_, other.descriptor_);
    return *this;
}

IconvConverter::Stop IconvConverter::convert(std::string_view& input, std::string& output) {
    std::array<char, 16384> buffer;
    while (!input.empty()) {
        char* in = const_cast<char*>(input.data()); // iconv's signature; it does not write
        std::size_t inLeft = input.size();
        char* out = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t result = iconv(descriptor_, &in, &inLeft, &out, &outLeft);
        const int error = errno;
        output.append(buffer.data(), buffer.size() - outLeft);
        input.remove_prefix(input.size() - inLeft);
        if (result != static_cast<std::size_t>(-1))
            continue;
        if (error == E2BIG)
            continue;
        if (error == EILSEQ)
            return Stop::InvalidSequence;
        if (error == EINVAL)
            return Stop::IncompleteSequence;
        throw SpeechError(std::string("text conversion failed: ") + std::strerror(error));
    }
    return Stop::Done;
}

void IconvConverter::reset() {
    iconv(descriptor_, nullptr, nullptr, nullptr, nullptr);
}

} // namespace kestrova::speech

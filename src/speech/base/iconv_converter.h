#pragma once

#include <cstddef>
#include <iconv.h>
#include <string>
#include <string_view>

namespace kestrova::speech {

// An owning handle on one iconv conversion descriptor.
class IconvConverter {
public:
    IconvConverter(const char* toCharset, const char* fromCharset);
    ~IconvConverter();
    IconvConverter(IconvConverter&& other) noexcept;
    IconvConverter& operator=(IconvConverter&& other) noexcept;
    IconvConverter(const IconvConverter&) = delete;
    IconvConverter& operator=(const IconvConverter&) = delete;

    enum class Stop { Done, InvalidSequence, IncompleteSequence };

    // Converts as much of input as it can, appending to output and advancing input past
    // what was consumed; says why it stopped.
    Stop convert(std::string_view& input, std::string& output);
    void reset();

private:
    iconv_t descriptor_;
};

} // namespace kestrova::speech

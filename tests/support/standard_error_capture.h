#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrova::test {

// Descriptor 2 of this process redirected into an unnamed temporary file until release():
// what the code under test writes there itself, not only through std::cerr or stderr.
class StandardErrorCapture {
public:
    StandardErrorCapture();
    ~StandardErrorCapture();
    StandardErrorCapture(const StandardErrorCapture&) = delete;
    StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;

    // Gives descriptor 2 back and returns all that was written to it meanwhile.
    std::string release();

private:
    int saved_ = -1;
    int capture_ = -1;
};

// The lines of text that start with prefix, without their line feeds: a program's own lines
// among those a library may write beside them.
std::vector<std::string> linesStartingWith(std::string_view text, std::string_view prefix);

} // namespace kestrova::test

#pragma once

#include <stdexcept>
#include <string>

namespace kestrova::speech {

// Every failure of the speech library is one of these; what() is a single line that
// names the file or voice concerned and the reason, ready to show a user.
class SpeechError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failure to read or write a file; what() names the file.
class FileError : public SpeechError {
public:
    using SpeechError::SpeechError;
};

// Raised when a conversion stops because its cancel flag was set.
class ConversionCancelled : public SpeechError {
public:
    using SpeechError::SpeechError;
};

} // namespace kestrova::speech

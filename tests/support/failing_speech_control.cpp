#include "support/failing_speech_control.h"

#include <stdexcept>

namespace kestrova::test {

FailingSpeechControl::FailingSpeechControl(std::string message) : message_(std::move(message)) {}

void FailingSpeechControl::SetEngineProperty(int, const std::string&) {}

void FailingSpeechControl::ConvertTextFileToWave(const std::string&, int, int, int,
                                                 const std::string&, int, int, int) {
    ++renderings_;
    throw std::runtime_error(message_);
}

} // namespace kestrova::test

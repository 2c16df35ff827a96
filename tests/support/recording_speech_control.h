#pragma once

#include "app/desktop.h"

#include <string>
#include <vector>

namespace kestrova::test {

// A speech control that renders nothing and keeps each call: the member's name and its
// arguments in call order, numbers in decimal, so a test sees exactly what the run asked.
class RecordingSpeechControl : public app::SpeechControl {
public:
    struct Call {
        std::string member;
        std::vector<std::string> arguments;
        bool operator==(const Call&) const = default;
    };

    void SetEngineProperty(int propertyId, const std::string& value) override;
    void ConvertTextFileToWave(const std::string& textFile, int firstCharacter, int encodingMode,
                               int characterCount, const std::string& waveFile, int writeFlags,
                               int formatCode, int waitMode) override;
    // Nothing was rendered: the run keeps the text file.
    std::optional<speech::ConversionResult> lastConversion() const override { return {}; }

    const std::vector<Call>& calls() const { return calls_; }

private:
    std::vector<Call> calls_;
};

} // namespace kestrova::test

#pragma once

#include "app/desktop.h"

#include <string>

namespace kestrova::test {

// A speech control whose rendering fails at once with the given message, for the one fault
// a real engine cannot be made to show on demand.
class FailingSpeechControl : public app::SpeechControl {
public:
    explicit FailingSpeechControl(std::string message);

    void SetEngineProperty(int propertyId, const std::string& value) override;
    void ConvertTextFileToWave(const std::string& textFile, int firstCharacter, int encodingMode,
                               int characterCount, const std::string& waveFile, int writeFlags,
                               int formatCode, int waitMode) override;
    std::optional<speech::ConversionResult> lastConversion() const override { return {}; }

    int renderings() const { return renderings_; }

private:
    std::string message_;
    int renderings_ = 0;
};

} // namespace kestrova::test

#include "support/recording_speech_control.h"

namespace kestrova::test {

using std::to_string;

void RecordingSpeechControl::SetEngineProperty(int propertyId, const std::string& value) {
    calls_.push_back({"SetEngineProperty", {to_string(propertyId), value}});
}

void RecordingSpeechControl::ConvertTextFileToWave(const std::string& textFile, int firstCharacter,
                                                   int encodingMode, int characterCount,
                                                   const std::string& waveFile, int writeFlags,
                                                   int formatCode, int waitMode) {
    calls_.push_back(
        {"ConvertTextFileToWave",
         {textFile, to_string(firstCharacter), to_string(encodingMode), to_string(characterCount),
          waveFile, to_string(writeFlags), to_string(formatCode), to_string(waitMode)}});
}

} // namespace kestrova::test

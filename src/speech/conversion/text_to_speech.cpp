#include "speech/text_to_speech.h"

#include "speech/speech_error.h"

namespace kestrova::speech {

TextToSpeech::TextToSpeech() = default;

TextToSpeech::TextToSpeech(VoiceRegistry registry) : registry_(std::move(registry)) {}

void TextToSpeech::SetEngineProperty(int propertyId, const std::string& value) {
    if (propertyId != engineNameProperty)
        throw SpeechError("unknown engine property " + std::to_string(propertyId));
    voice_ = registry_.find(value);
}

const Voice& TextToSpeech::voice() const {
    return voice_ ? *voice_ : registry_.defaultVoice();
}

void TextToSpeech::ConvertTextFileToWave(const std::string& textFile, int firstCharacter,
                                         int encodingMode, int characterCount,
                                         const std::string& waveFile, int writeFlags,
                                         int formatCode, int waitMode) {
    static constexpr TextEncoding encodings[] = {TextEncoding::Utf8,      TextEncoding::Windows1252,
                                                 TextEncoding::Automatic, TextEncoding::Utf16LE,
                                                 TextEncoding::Utf16BE,   TextEncoding::Utf32LE,
                                                 TextEncoding::Utf32BE};
    if (waitMode != 1)
        throw SpeechError("wait mode " + std::to_string(waitMode) +
                          " is not supported (1: return when the file is complete)");
    if (encodingMode < 0 || encodingMode >= static_cast<int>(std::size(encodings)))
        throw SpeechError("unknown text encoding mode " + std::to_string(encodingMode));
    if (firstCharacter < 0 || characterCount < -1)
        throw SpeechError("the character range " + std::to_string(firstCharacter) + ", " +
                          std::to_string(characterCount) + " is not valid");
    ConversionRequest request;
    request.input.path = textFile;
    request.output.path = waveFile;
    request.speech.voice = voice();
    request.output.format = AudioFormat::fromFormatCode(formatCode);
    request.output.container = Container::Wave; // a wave file, whatever the name's ending
    request.input.encoding = encodings[encodingMode];
    request.input.firstCharacter = static_cast<std::uint64_t>(firstCharacter);
    if (characterCount >= 0)
        request.input.characterCount = static_cast<std::uint64_t>(characterCount);
    request.output.replaceExisting = (writeFlags & ReplaceExisting) != 0;
    request.output.syncToDisk = (writeFlags & SyncToDisk) != 0;
    lastConversion_.reset();
    lastConversion_ = convertTextFile(request, progress_, cancel_);
}

} // namespace kestrova::speech

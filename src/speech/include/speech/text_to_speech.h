#pragma once

#include "speech/converter.h"
#include "speech/voice.h"

#include <atomic>
#include <optional>
#include <string>

namespace kestrova::speech {

// The text-to-speech control that the conversion run drives, with the two members it uses.
//
// ConvertTextFileToWave's arguments, in call order:
//   1 textFile          the text file to read
//   2 firstCharacter    characters of the text skipped before rendering (0: from the start)
//   3 encodingMode      0 UTF-8, 1 Windows-1252, 2 automatic (byte order marks of UTF-8,
//                       UTF-16 and UTF-32 included), 3 UTF-16LE, 4 UTF-16BE, 5 UTF-32LE,
//                       6 UTF-32BE
//   4 characterCount    characters rendered; -1: to the end of the text
//   5 waveFile          the file to write
//   6 writeFlags        bit 0: replace a file already at waveFile (else fail);
//                       bit 1: flush the file to disk before it takes its name
//   7 formatCode        SAPI 5 audio format, 4 to 39 (18: 16 kHz, 22: 22.05 kHz, 16-bit mono)
//   8 waitMode          1: return when the file is complete (the only mode)
// The program always passes (file, 0, 2, -1, wave, 3, code, 1): the whole text, its
// encoding detected, replacing and flushing.
class TextToSpeech {
public:
    static constexpr int engineNameProperty = 5;
    enum WriteFlag { ReplaceExisting = 1, SyncToDisk = 2 };

    TextToSpeech();
    explicit TextToSpeech(VoiceRegistry registry);

    // Property 5 selects the voice by engine name; throws SpeechError for an unknown one.
    void SetEngineProperty(int propertyId, const std::string& value);
    void ConvertTextFileToWave(const std::string& textFile, int firstCharacter, int encodingMode,
                               int characterCount, const std::string& waveFile, int writeFlags,
                               int formatCode, int waitMode);

    void setProgressCallback(ProgressCallback progress) { progress_ = std::move(progress); }
    // Checked between chunks; once set, the conversion stops and throws ConversionCancelled.
    void setCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }

    // What the last ConvertTextFileToWave that succeeded read and wrote.
    const std::optional<ConversionResult>& lastConversion() const { return lastConversion_; }

    const VoiceRegistry& registry() const { return registry_; }
    const Voice& voice() const;

private:
    VoiceRegistry registry_;
    std::optional<Voice> voice_;
    ProgressCallback progress_;
    const std::atomic<bool>* cancel_ = nullptr;
    std::optional<ConversionResult> lastConversion_;
};

} // namespace kestrova::speech

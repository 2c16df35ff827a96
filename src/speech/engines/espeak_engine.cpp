#include "espeak_engine.h"

#include "speech/speech_error.h"

#include <array>
#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>
#include <exception>
#include <map>

namespace kestrova::speech {
namespace {

std::string statusMessage(espeak_ng_STATUS status) {
    std::array<char, 512> text{};
    espeak_ng_GetStatusCodeMessage(status, text.data(), text.size());
    return text.data();
}

void check(espeak_ng_STATUS status, const std::string& what) {
    if (status != ENS_OK)
        throw SpeechError("eSpeak NG: " + what + ": " + statusMessage(status));
}

// What one synthesis call collects; the callback runs on the caller's thread, inside
// espeak_ng_Synthesize, in synchronous mode.
struct SynthesisContext {
    const SampleSink* sink;
    std::exception_ptr failure;
};

int onSamples(short* samples, int count, espeak_EVENT* events) {
    auto* context = static_cast<SynthesisContext*>(events->user_data);
    if (context == nullptr || context->failure)
        return 1;
    if (samples != nullptr && count > 0) {
        try {
            (*context->sink)(
                std::span<const std::int16_t>(samples, static_cast<std::size_t>(count)));
        } catch (...) {
            context->failure = std::current_exception();
            return 1; // stops the synthesis
        }
    }
    return 0;
}

} // namespace

EspeakEngine& EspeakEngine::instance() {
    static EspeakEngine engine;
    return engine;
}

EspeakEngine::EspeakEngine() {
    espeak_ng_InitializePath(nullptr);
    espeak_ng_ERROR_CONTEXT context = nullptr;
    const espeak_ng_STATUS status = espeak_ng_Initialize(&context);
    if (status != ENS_OK) {
        espeak_ng_ClearErrorContext(&context);
        // Say where the data was looked for: ESPEAK_DATA_PATH or the installed folder.
        const char* dataPath = nullptr;
        espeak_Info(&dataPath);
        check(status,
              std::string("cannot initialize from ") + (dataPath ? dataPath : "its data folder"));
    }
    check(espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, 0, nullptr),
          "cannot set up synchronous output");
    espeak_SetSynthCallback(onSamples);
    sampleRate_ = espeak_ng_GetSampleRate();
}

EspeakEngine::~EspeakEngine() {
    espeak_ng_Terminate();
}

std::vector<Voice> EspeakEngine::voices() {
    const std::lock_guard lock(mutex_);
    std::vector<Voice> found;
    std::map<std::string, int> languageUses;
    std::vector<std::string> voiceFiles;
    for (const espeak_VOICE** entry = espeak_ListVoices(nullptr); entry && *entry; ++entry) {
        const espeak_VOICE& voice = **entry;
        const std::string identifier = voice.identifier ? voice.identifier : "";
        // MBROLA voices need the mbrola program and its voice data, which we do not drive.
        if (identifier.empty() || identifier.starts_with("mb/") || voice.name == nullptr)
            continue;
        // languages: a priority byte, then a NUL-terminated language name, repeated.
        const std::string language =
            voice.languages && voice.languages[0] ? std::string(voice.languages + 1) : identifier;
        ++languageUses[language];
        voiceFiles.push_back(identifier);
        found.push_back(Voice{EngineKind::EspeakNg, std::string("eSpeak NG ") + voice.name,
                              language, language, sampleRate_, voice.name});
    }
    // Where two voices share a language, the language alone cannot name either of them.
    for (Voice& voice : found)
        if (languageUses[voice.language] > 1)
            voice.id = voiceFiles[&voice - found.data()];
    return found;
}

void EspeakEngine::selectVoice(const std::string& engineVoice) {
    currentVoice_.clear();
    // Voice names are unique in eSpeak NG's list, unlike languages.
    check(espeak_ng_SetVoiceByName(engineVoice.c_str()),
          "cannot select the voice \"" + engineVoice + "\"");
    currentVoice_ = engineVoice;
}

void EspeakEngine::synthesize(const std::string& engineVoice, const std::string& text,
                              const SampleSink& sink) {
    const std::lock_guard lock(mutex_);
    selectVoice(engineVoice);
    SynthesisContext context{&sink, nullptr};
    // Plain UTF-8 text: no SSML, no phoneme input, so markup is read aloud as text.
    const espeak_ng_STATUS status =
        espeak_ng_Synthesize(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                             espeakCHARS_UTF8 | espeakENDPAUSE, nullptr, &context);
    if (context.failure)
        std::rethrow_exception(context.failure);
    check(status, "synthesis failed");
}

EspeakSynthesizer::EspeakSynthesizer(const Voice& voice) : engineVoice_(voice.engineVoice) {}

int EspeakSynthesizer::sampleRate() const {
    return EspeakEngine::instance().sampleRate();
}

void EspeakSynthesizer::synthesize(const std::string& text, const SampleSink& sink) {
    EspeakEngine::instance().synthesize(engineVoice_, text, sink);
}

} // namespace kestrova::speech

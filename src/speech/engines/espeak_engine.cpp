#include "espeak_engine.h"

#include "speech/engines/measured_response.h"
#include "speech/speech_error.h"

#include <array>
#include <cmath>
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

// Neither words per minute nor the pitch parameter is proportional to what a listener hears.
// These are measured on a one-minute English text with the voices English (America),
// English (Great Britain), Afrikaans, Russian (rate) and Vietnamese (pitch): the speaking-time
// ratio is the geometric mean of the sounding time's and the total time's, the pitch ratio
// that of the median fundamental frequency of voiced frames.
constexpr std::array rateResponse{
    ResponsePoint{0.489, 80},   ResponsePoint{0.505, 88},  ResponsePoint{0.573, 100},
    ResponsePoint{0.686, 120},  ResponsePoint{0.802, 140}, ResponsePoint{1.0, 175},
    ResponsePoint{1.142, 200},  ResponsePoint{1.311, 230}, ResponsePoint{1.474, 262},
    ResponsePoint{1.695, 300},  ResponsePoint{1.839, 325}, ResponsePoint{1.980, 350},
    ResponsePoint{2.109, 375},  ResponsePoint{2.240, 400}, ResponsePoint{2.426, 450},
    ResponsePoint{2.686, 500},  ResponsePoint{3.214, 600}, ResponsePoint{3.732, 700},
    ResponsePoint{4.269, 800},  ResponsePoint{4.792, 900}, ResponsePoint{5.339, 1000},
    ResponsePoint{6.410, 1200},
};
constexpr std::array pitchResponse{
    ResponsePoint{0.681, 0},  ResponsePoint{0.726, 10},  ResponsePoint{0.776, 20},
    ResponsePoint{0.842, 30}, ResponsePoint{0.914, 40},  ResponsePoint{1.0, 50},
    ResponsePoint{1.098, 60}, ResponsePoint{1.210, 70},  ResponsePoint{1.343, 80},
    ResponsePoint{1.490, 90}, ResponsePoint{1.642, 100},
};

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
    defaultProsody_ = {espeak_GetParameter(espeakRATE, 0), espeak_GetParameter(espeakPITCH, 0)};
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

EspeakProsody EspeakEngine::prosodyFor(double rate, double pitch) const {
    // The measured points are relative to eSpeak NG's defaults; keep those exact.
    return {rate == 1 ? defaultProsody_.wordsPerMinute
                      : static_cast<int>(std::lround(settingFor(rate, rateResponse))),
            pitch == 1 ? defaultProsody_.pitch
                       : static_cast<int>(std::lround(settingFor(pitch, pitchResponse)))};
}

void EspeakEngine::synthesize(const std::string& engineVoice, const EspeakProsody& prosody,
                              const std::string& text, const SampleSink& sink) {
    const std::lock_guard lock(mutex_);
    selectVoice(engineVoice);
    // The parameters are process-wide: set every time, so that no synthesizer speaks with
    // another's.
    if (espeak_SetParameter(espeakRATE, prosody.wordsPerMinute, 0) != EE_OK ||
        espeak_SetParameter(espeakPITCH, prosody.pitch, 0) != EE_OK)
        throw SpeechError("eSpeak NG: cannot set the rate and pitch");
    SynthesisContext context{.sink = &sink, .failure = nullptr};
    // Plain UTF-8 text: no SSML, no phoneme input, so markup is read aloud as text.
    const espeak_ng_STATUS status =
        espeak_ng_Synthesize(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                             espeakCHARS_UTF8 | espeakENDPAUSE, nullptr, &context);
    if (context.failure)
        std::rethrow_exception(context.failure);
    check(status, "synthesis failed");
}

EspeakSynthesizer::EspeakSynthesizer(const Voice& voice)
    : engineVoice_(voice.engineVoice), prosody_(EspeakEngine::instance().defaultProsody()) {}

int EspeakSynthesizer::sampleRate() const {
    return EspeakEngine::instance().sampleRate();
}

void EspeakSynthesizer::synthesize(const std::string& text, const SampleSink& sink) {
    EspeakEngine::instance().synthesize(engineVoice_, prosody_, text, sink);
}

void EspeakSynthesizer::setProsody(double rate, double pitch) {
    prosody_ = EspeakEngine::instance().prosodyFor(rate, pitch);
}

} // namespace kestrova::speech

#include "flite_engine.h"

#include "speech/base/iconv_converter.h"
#include "speech/base/utf8.h"
#include "speech/engines/measured_response.h"
#include "speech/speech_error.h"
#include "speech/text/script/text_chunker.h"

extern "C" {
#include <flite/cst_cg.h>
#include <flite/flite.h>

cst_voice* register_cmu_us_kal(const char* voxdir);
void unregister_cmu_us_kal(cst_voice* voice);
cst_voice* register_cmu_us_kal16(const char* voxdir);
void unregister_cmu_us_kal16(cst_voice* voice);
cst_voice* register_cmu_us_awb(const char* voxdir);
void unregister_cmu_us_awb(cst_voice* voice);
cst_voice* register_cmu_us_rms(const char* voxdir);
void unregister_cmu_us_rms(cst_voice* voice);
cst_voice* register_cmu_us_slt(const char* voxdir);
void unregister_cmu_us_slt(cst_voice* voice);
}

#include <array>
#include <cmath>
#include <csetjmp>
#include <locale.h>
#include <optional>

namespace kestrova::speech {

struct FliteEngine::BuiltInVoice {
    const char* name;
    cst_voice* (*registerVoice)(const char*);
    void (*unregisterVoice)(cst_voice*);
    cst_voice* voice = nullptr;
    int sampleRate = 0;
};

namespace {

// Sentences longer than this are cut at a space, to bound an utterance: Flite spells out
// numbers, and 600 digits made one utterance of some 240 MB.
constexpr std::size_t sentenceLimitBytes = 200;

struct WaveDeleter {
    void operator()(cst_wave* wave) const { delete_wave(wave); }
};
using WaveHandle = std::unique_ptr<cst_wave, WaveDeleter>;

// Flite reports an internal error by longjmp through cst_errjmp, or by exiting the process
// when it is unset. The jump lands here, in a frame that holds no C++ object to destroy.
cst_wave* renderOrNull(const char* text, cst_voice* voice) {
    jmp_buf landing;
    jmp_buf* const previous = cst_errjmp;
    cst_errjmp = &landing;
    cst_wave* volatile wave = nullptr; // volatile: it must survive the longjmp
    if (setjmp(landing) == 0)
        wave = flite_text_to_wave(text, voice);
    cst_errjmp = previous;
    return wave;
}

// Every Flite voice declares the rate it renders at among its features.
int declaredRate(cst_voice* voice) {
    return get_param_int(voice->features, "sample_rate", 0);
}

// Clustergen voices (all but the diphone voice kal) do not shorten their sounds in proportion
// beyond about twice their speed: the speed to ask, by what a one-minute English text measured
// with slt, awb and rms (the geometric mean of the sounding time's and the total time's
// ratio). Diphone voices follow the stretch as asked.
constexpr std::array clustergenSpeedResponse{
    ResponsePoint{0.0504, 0.05}, ResponsePoint{0.252, 0.25}, ResponsePoint{0.503, 0.5},
    ResponsePoint{1.0, 1.0},     ResponsePoint{1.488, 1.5},  ResponsePoint{1.965, 2.0},
    ResponsePoint{2.413, 2.5},   ResponsePoint{2.826, 3.0},  ResponsePoint{3.540, 4.0},
    ResponsePoint{4.085, 5.0},   ResponsePoint{4.493, 6.0},  ResponsePoint{4.993, 8.0},
};

// Flite's voices speak at their features' duration stretch and F0 target: a prosody is
// those scaled, for one utterance, and the voice's own values put back after it, since
// every synthesizer of the voice shares its features.
class ProsodyOverride {
public:
    ProsodyOverride(cst_voice* voice, const FliteProsody& prosody) : features_(voice->features) {
        if (prosody.rate == 1 && prosody.pitch == 1)
            return;
        const bool clustergen = feat_present(features_, "cg_db");
        // Extremes that Flite still renders sensibly: a twentieth to twenty times as fast,
        // a quarter to four times as high.
        const double rate = std::fmax(0.05, std::fmin(prosody.rate, 20.0));
        const double pitch = std::fmax(0.25, std::fmin(prosody.pitch, 4.0));
        const double speed = clustergen ? settingFor(rate, clustergenSpeedResponse) : rate;
        stretch_ = current("duration_stretch");
        feat_set_float(features_, "duration_stretch",
                       static_cast<float>(stretch_.value_or(1.0) / speed));
        f0Mean_ = current("int_f0_target_mean");
        feat_set_float(features_, "int_f0_target_mean",
                       static_cast<float>(f0Mean_.value_or(ownF0Mean()) * pitch));
        // A voice that declares how far its F0 strays from the mean strays as much further
        // when higher, as a frequency ratio has it; clustergen voices scale it themselves.
        f0Deviation_ = current("int_f0_target_stddev");
        if (f0Deviation_)
            feat_set_float(features_, "int_f0_target_stddev",
                           static_cast<float>(*f0Deviation_ * pitch));
        active_ = true;
    }
    ~ProsodyOverride() {
        if (!active_)
            return;
        restore("duration_stretch", stretch_);
        restore("int_f0_target_mean", f0Mean_);
        restore("int_f0_target_stddev", f0Deviation_);
    }
    ProsodyOverride(const ProsodyOverride&) = delete;
    ProsodyOverride& operator=(const ProsodyOverride&) = delete;

private:
    std::optional<double> current(const char* name) const {
        if (!feat_present(features_, name))
            return std::nullopt;
        return get_param_float(features_, name, 0);
    }
    // Clustergen voices declare no target: their model's mean is the one they speak at.
    double ownF0Mean() const {
        if (feat_present(features_, "cg_db"))
            return val_cg_db(feat_val(features_, "cg_db"))->f0_mean;
        return 100;
    }
    void restore(const char* name, const std::optional<double>& own) {
        if (own)
            feat_set_float(features_, name, static_cast<float>(*own));
        else
            feat_remove(features_, name);
    }

    cst_features* features_;
    bool active_ = false;
    std::optional<double> stretch_;
    std::optional<double> f0Mean_;
    std::optional<double> f0Deviation_;
};

// A locale with transliteration tables, for this thread only: iconv's //TRANSLIT consults
// the thread's locale, and the process may well run in the plain C locale.
class ThreadLocale {
public:
    explicit ThreadLocale(const char* name)
        : locale_(newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0))),
          previous_(locale_ ? uselocale(locale_) : static_cast<locale_t>(0)) {}
    ~ThreadLocale() {
        if (locale_) {
            uselocale(previous_);
            freelocale(locale_);
        }
    }
    ThreadLocale(const ThreadLocale&) = delete;
    ThreadLocale& operator=(const ThreadLocale&) = delete;

private:
    locale_t locale_;
    locale_t previous_;
};

} // namespace

std::string asciiForFlite(std::string_view utf8) {
    std::string ascii;
    ascii.reserve(utf8.size());
    const ThreadLocale locale("C.UTF-8");
    IconvConverter transliterate("ASCII//TRANSLIT", "UTF-8");
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            ascii.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        const std::size_t length = std::min(announcedLength(utf8[i]), utf8.size() - i);
        std::string_view character = utf8.substr(i, length);
        std::string converted;
        transliterate.reset();
        const auto stop = transliterate.convert(character, converted);
        if (stop != IconvConverter::Stop::Done || converted.empty() || converted == "?")
            ascii.push_back(' ');
        else
            ascii.append(converted);
        i += length;
    }
    return ascii;
}

FliteEngine& FliteEngine::instance() {
    static FliteEngine engine;
    return engine;
}

FliteEngine::FliteEngine() {
    flite_init();
    voices_ = {
        {"kal", register_cmu_us_kal, unregister_cmu_us_kal},
        {"kal16", register_cmu_us_kal16, unregister_cmu_us_kal16},
        {"awb", register_cmu_us_awb, unregister_cmu_us_awb},
        {"rms", register_cmu_us_rms, unregister_cmu_us_rms},
        {"slt", register_cmu_us_slt, unregister_cmu_us_slt},
    };
    for (BuiltInVoice& builtIn : voices_) {
        builtIn.voice = builtIn.registerVoice(nullptr);
        if (builtIn.voice)
            builtIn.sampleRate = declaredRate(builtIn.voice);
    }
}

FliteEngine::~FliteEngine() {
    for (BuiltInVoice& builtIn : voices_)
        if (builtIn.voice)
            builtIn.unregisterVoice(builtIn.voice);
}

std::vector<Voice> FliteEngine::voices() const {
    std::vector<Voice> found;
    for (const BuiltInVoice& builtIn : voices_)
        if (builtIn.voice && builtIn.sampleRate > 0)
            found.push_back(Voice{EngineKind::Flite, std::string("Flite ") + builtIn.name,
                                  builtIn.name, "en-us", builtIn.sampleRate, builtIn.name});
    return found;
}

const FliteEngine::BuiltInVoice& FliteEngine::voice(const std::string& engineVoice) const {
    for (const BuiltInVoice& builtIn : voices_)
        if (engineVoice == builtIn.name && builtIn.voice)
            return builtIn;
    throw SpeechError("Flite has no voice \"" + engineVoice + "\"");
}

int FliteEngine::sampleRate(const std::string& engineVoice) const {
    return voice(engineVoice).sampleRate;
}

void FliteEngine::synthesize(const std::string& engineVoice, const FliteProsody& prosody,
                             const std::string& text, const SampleSink& sink) {
    // flite_text_to_wave makes one utterance of all it is given, and an utterance of a
    // whole chunk costs Flite's larger voices some 60 MB: hand it a sentence at a time,
    // as its own reader does.
    TextChunker sentences(1, sentenceLimitBytes);
    sentences.push(asciiForFlite(text));
    sentences.finish();
    while (const auto sentence = sentences.next()) {
        WaveHandle wave;
        {
            const std::lock_guard lock(mutex_);
            cst_voice* const builtIn = voice(engineVoice).voice;
            const ProsodyOverride scaled(builtIn, prosody);
            wave.reset(renderOrNull(sentence->text.c_str(), builtIn));
        }
        if (!wave)
            throw SpeechError("Flite could not render the text");
        if (wave->num_channels != 1 || wave->sample_rate != sampleRate(engineVoice))
            throw SpeechError("Flite rendered an unexpected format");
        if (wave->num_samples > 0)
            sink(std::span<const std::int16_t>(wave->samples,
                                               static_cast<std::size_t>(wave->num_samples)));
    }
}

FliteSynthesizer::FliteSynthesizer(const Voice& voice)
    : engineVoice_(voice.engineVoice),
      sampleRate_(FliteEngine::instance().sampleRate(voice.engineVoice)) {}

void FliteSynthesizer::synthesize(const std::string& text, const SampleSink& sink) {
    FliteEngine::instance().synthesize(engineVoice_, prosody_, text, sink);
}

void FliteSynthesizer::setProsody(double rate, double pitch) {
    prosody_ = {.rate = rate, .pitch = pitch};
}

} // namespace kestrova::speech

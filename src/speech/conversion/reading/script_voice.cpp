#include "speech/conversion/reading/script_voice.h"

#include "speech/base/language_tag.h"
#include "speech/quoted_name.h"

#include <string>
#include <utility>

namespace kestrova::speech {
namespace {

// Ends the sampling read of a document once enough letters are counted.
struct SampleTaken {};

class ScriptSampler : public DocumentSink {
public:
    explicit ScriptSampler(ScriptTally& tally) : tally_(tally) {}
    void chapter(std::string) override {}
    void block(DocumentBlock block) override {
        for (const DocumentRun& run : block.runs)
            tally_.add(run.text);
        if (tally_.letters() >= scriptSampleLetters)
            throw SampleTaken{};
    }

private:
    ScriptTally& tally_;
};

// eSpeak NG's Japanese voice says a letter's name for every kanji.
bool readsNoHan(const Voice& voice) {
    return voice.engine == EngineKind::EspeakNg && sameLanguage(voice.language, "ja");
}

std::string declaredLanguage(const ConversionPlan::Input& input) {
    return input.document ? input.document->metadata().language : "";
}

// Whether the registry is to choose: no language named, or one none of its voices speaks.
bool chooses(const ConversionPlan::Input& input, const VoiceRegistry* registry) {
    const std::string declared = declaredLanguage(input);
    return registry && (declared.empty() || !registry->voiceForLanguage(declared).has_value());
}

} // namespace

std::optional<ScriptDecides> scriptDecides(const ConversionRequest& request,
                                           const ConversionPlan::Input& input,
                                           const VoiceRegistry* registry) {
    if (request.input.kind == InputKind::Ssml)
        return std::nullopt;
    if (chooses(input, registry))
        return ScriptDecides{.voices = registry};
    if (readsNoHan(request.speech.voice))
        return ScriptDecides{.voices = nullptr};
    return std::nullopt;
}

ScriptVoice scriptVoice(const ConversionRequest& request, const ConversionPlan::Input& input,
                        const VoiceRegistry* registry, const ScriptTally& tally) {
    ScriptVoice decided;
    const std::optional<WritingScript> script =
        chooses(input, registry) ? tally.dominant() : std::nullopt;
    if (script)
        decided.voice = registry->voiceForLanguage(script->language);
    if (decided.voice) {
        const std::string kind = inputKindRow(request.input.kind).fileKind;
        const std::string declared = declaredLanguage(input);
        decided.voiceChoice = (declared.empty() ? "the " + kind + "'s script, "
                                                : "no voice speaks the " + kind + "'s language, " +
                                                      shownValue(declared) + "; its script, ") +
                              script->name;
    }
    const Voice& reading = decided.voice ? *decided.voice : request.speech.voice;
    if (readsNoHan(reading) && tally.lettersOf("Han") > 0)
        decided.warning = "the voice " + reading.id +
                          " reads no Han characters (kanji): it says \"Chinese letter\" for each "
                          "of them";
    return decided;
}

ScriptTally sampledScript(const ConversionRequest& request, ConversionPlan::Input& input) {
    ScriptTally tally;
    if (!input.document) {
        if (request.input.encoding == TextEncoding::Utf8 ||
            request.input.encoding == TextEncoding::Automatic)
            tally.add(input.head);
        return tally;
    }
    // What the document says while sampled is dropped: the plan's reading says it.
    const bool holding = std::exchange(input.holding, true);
    const std::size_t held = input.held.size();
    ScriptSampler sampler(tally);
    try {
        input.document->read(sampler);
    } catch (const SampleTaken&) {
    }
    input.holding = holding;
    input.held.resize(held);
    return tally;
}

void adoptScriptVoice(ConversionRequest& request, ConversionPlan::Input& input,
                      const ScriptVoice& decided) {
    if (decided.voice) {
        request.speech.voice = *decided.voice;
        request.speech.voiceChoice = decided.voiceChoice;
    }
    if (decided.warning)
        input.held.push_back(*decided.warning);
}

} // namespace kestrova::speech

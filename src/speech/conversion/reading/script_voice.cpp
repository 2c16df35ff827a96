#include "speech/conversion/reading/script_voice.h"

#include "speech/base/language_tag.h"
#include "speech/quoted_name.h"
#include "speech/text/script/writing_script.h"

#include <string>

namespace kestrova::speech {
namespace {

// Enough letters to know a text's script by, from its first paragraphs: a title page or a
// preface in another script weighs little against them.
constexpr std::size_t sampledLetters = 2000;

// Ends the sampling read of a document once enough letters are counted.
struct SampleTaken {};

class ScriptSampler : public DocumentSink {
public:
    explicit ScriptSampler(ScriptTally& tally) : tally_(tally) {}
    void chapter(std::string) override {}
    void block(DocumentBlock block) override {
        for (const DocumentRun& run : block.runs)
            tally_.add(run.text);
        if (tally_.letters() >= sampledLetters)
            throw SampleTaken{};
    }

private:
    ScriptTally& tally_;
};

// The first letters of the input: a document's first blocks, read with its warnings muted
// (the plan's reading tells them), or the first bytes of a plain text in UTF-8.
ScriptTally sampledScript(const ConversionRequest& request, ConversionPlan::Input& input) {
    ScriptTally tally;
    if (!input.document) {
        if (request.input.encoding == TextEncoding::Utf8 ||
            request.input.encoding == TextEncoding::Automatic)
            tally.add(input.head);
        return tally;
    }
    const bool holding = input.holding;
    const std::vector<std::string> held = input.held;
    input.holding = true;
    ScriptSampler sampler(tally);
    try {
        input.document->read(sampler);
    } catch (const SampleTaken&) {
    }
    input.holding = holding;
    input.held = held;
    return tally;
}

// The voices that read a script the text holds as a letter's name, each word of it alike.
bool readsNoHan(const Voice& voice) {
    return voice.engine == EngineKind::EspeakNg && sameLanguage(voice.language, "ja");
}

} // namespace

void adoptScriptVoice(ConversionRequest& request, ConversionPlan::Input& input,
                      const VoiceRegistry* registry) {
    if (request.input.kind == InputKind::Ssml)
        return;
    const std::string declared = input.document ? input.document->metadata().language : "";
    const bool chooses =
        registry && (declared.empty() || !registry->voiceForLanguage(declared).has_value());
    if (!chooses && !readsNoHan(request.speech.voice))
        return;
    const ScriptTally tally = sampledScript(request, input);
    const std::optional<WritingScript> script = chooses ? tally.dominant() : std::nullopt;
    if (const std::optional<Voice> voice =
            script ? registry->voiceForLanguage(script->language) : std::nullopt) {
        const std::string kind = inputKindRow(request.input.kind).fileKind;
        request.speech.voice = *voice;
        request.speech.voiceChoice =
            (declared.empty() ? "the " + kind + "'s script, "
                              : "no voice speaks the " + kind + "'s language, " +
                                    shownValue(declared) + "; its script, ") +
            script->name;
    }
    if (readsNoHan(request.speech.voice) && tally.lettersOf("Han") > 0)
        input.held.push_back("the voice " + request.speech.voice.id +
                             " reads no Han characters (kanji): it says \"Chinese letter\" for "
                             "each of them");
}

} // namespace kestrova::speech

#include "speech/speech_error.h"
#include "speech/voice.h"
#include "support/value_sweep.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <string>

namespace kestrova::speech {
namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

class InstalledVoices : public ::testing::Test {
protected:
    static const VoiceRegistry& registry() {
        static const VoiceRegistry discovered;
        return discovered;
    }
    static const Voice* named(std::string_view displayName) {
        for (const Voice& voice : registry().voices())
            if (voice.displayName == displayName)
                return &voice;
        return nullptr;
    }
};

TEST_F(InstalledVoices, ListBothEngines) {
    const auto& voices = registry().voices();
    const auto espeak = std::count_if(voices.begin(), voices.end(), [](const Voice& voice) {
        return voice.engine == EngineKind::EspeakNg;
    });
    const auto flite = std::count_if(voices.begin(), voices.end(), [](const Voice& voice) {
        return voice.engine == EngineKind::Flite;
    });
    EXPECT_GT(espeak, 10);
    EXPECT_EQ(flite, 5);
}

TEST_F(InstalledVoices, NameTheirEngine) {
    for (const Voice& voice : registry().voices()) {
        const std::string prefix = voice.engine == EngineKind::EspeakNg ? "eSpeak NG " : "Flite ";
        EXPECT_TRUE(voice.displayName.starts_with(prefix)) << voice.displayName;
        EXPECT_GT(voice.displayName.size(), prefix.size()) << voice.displayName;
        EXPECT_FALSE(voice.id.empty()) << voice.displayName;
        EXPECT_FALSE(voice.engineVoice.empty()) << voice.displayName;
        EXPECT_GT(voice.nativeRate, 0) << voice.displayName;
    }
}

TEST_F(InstalledVoices, IncludeAmericanEnglishOfESpeakNg) {
    const Voice* voice = named("eSpeak NG English (America)");
    ASSERT_NE(voice, nullptr);
    EXPECT_EQ(voice->engine, EngineKind::EspeakNg);
    EXPECT_EQ(voice->id, "en-us");
    EXPECT_EQ(voice->language, "en-us");
    EXPECT_EQ(voice->nativeRate, 22050);
}

struct FliteVoiceCase {
    std::string displayName;
    std::string id;
    int nativeRate;
};

class FliteVoice : public InstalledVoices, public ::testing::WithParamInterface<FliteVoiceCase> {};

TEST_P(FliteVoice, IsListedWithItsRate) {
    const Voice* voice = named(GetParam().displayName);
    ASSERT_NE(voice, nullptr) << GetParam().displayName;
    EXPECT_EQ(voice->engine, EngineKind::Flite);
    EXPECT_EQ(voice->id, GetParam().id);
    EXPECT_EQ(voice->nativeRate, GetParam().nativeRate);
}

INSTANTIATE_TEST_SUITE_P(BuiltIn, FliteVoice,
                         test::sweep(FliteVoiceCase{"Flite slt", "slt", 16000},
                                     FliteVoiceCase{"Flite kal", "kal", 8000},
                                     FliteVoiceCase{"Flite kal16", "kal16", 16000},
                                     FliteVoiceCase{"Flite awb", "awb", 16000},
                                     FliteVoiceCase{"Flite rms", "rms", 16000}));

TEST_F(InstalledVoices, HaveUniqueNamesAndIdsInAnyLetterCase) {
    std::set<std::string> names;
    std::set<std::string> ids;
    for (const Voice& voice : registry().voices()) {
        EXPECT_TRUE(names.insert(lowerCase(voice.displayName)).second) << voice.displayName;
        EXPECT_TRUE(ids.insert(lowerCase(voice.id)).second)
            << voice.id << " of " << voice.displayName;
    }
}

// Every voice is reachable by its name and by its id: no other voice shadows it.
TEST_F(InstalledVoices, AreEachFoundByTheirNameAndId) {
    for (const Voice& voice : registry().voices()) {
        EXPECT_EQ(registry().find(voice.displayName).displayName, voice.displayName);
        EXPECT_EQ(registry().find(lowerCase(voice.displayName)).displayName, voice.displayName);
        EXPECT_EQ(registry().find(voice.id).displayName, voice.displayName) << voice.id;
    }
}

struct FindCase {
    std::string engineName;
    std::string displayName;
};

class FindVoice : public InstalledVoices, public ::testing::WithParamInterface<FindCase> {};

TEST_P(FindVoice, SelectsTheVoice) {
    EXPECT_EQ(registry().find(GetParam().engineName).displayName, GetParam().displayName);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FindVoice,
    test::sweep(FindCase{"eSpeak NG English (America)", "eSpeak NG English (America)"},
                FindCase{"ESPEAK NG ENGLISH (AMERICA)", "eSpeak NG English (America)"},
                FindCase{"Flite slt", "Flite slt"}, FindCase{"flite SLT", "Flite slt"},
                FindCase{"en-us", "eSpeak NG English (America)"},
                FindCase{"EN-US", "eSpeak NG English (America)"}, FindCase{"slt", "Flite slt"},
                FindCase{"KAL16", "Flite kal16"}, FindCase{"kal", "Flite kal"},
                FindCase{"", "eSpeak NG English (America)"},
                FindCase{"ESPEAK NG MĀORI", "eSpeak NG Māori"},
                FindCase{"espeak ng māori", "eSpeak NG Māori"}));

TEST_F(InstalledVoices, DefaultIsAmericanEnglishOfESpeakNg) {
    EXPECT_EQ(registry().defaultVoice().displayName, "eSpeak NG English (America)");
}

class UnknownVoice : public InstalledVoices, public ::testing::WithParamInterface<std::string> {};

TEST_P(UnknownVoice, IsRefusedNamingItAndTheVoiceList) {
    try {
        registry().find(GetParam());
        FAIL() << "\"" << GetParam() << "\" was found";
    } catch (const SpeechError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("\"" + GetParam() + "\""), std::string::npos) << message;
        EXPECT_NE(message.find("kestrova-wav-cli voices"), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
}

// Names are taken as given: no trimming, no partial match.
INSTANTIATE_TEST_SUITE_P(Names, UnknownVoice,
                         test::sweep("VW Kate", "nosuchvoice", " slt", "slt ", "Flite",
                                     "Flite  slt", "eSpeak NG", "slt16", "ATT DTNV 16"));

Voice madeUp(EngineKind engine, std::string name, std::string id) {
    return Voice{engine, std::move(name), id, "en", 16000, id};
}

TEST(VoiceRegistryOfGivenVoices, DefaultsToTheFirstWithoutAmericanEnglish) {
    const VoiceRegistry registry(
        {madeUp(EngineKind::Flite, "Flite b", "b"), madeUp(EngineKind::Flite, "Flite a", "a")});
    EXPECT_EQ(registry.defaultVoice().displayName, "Flite b");
    EXPECT_EQ(registry.find("").displayName, "Flite b");
}

TEST(VoiceRegistryOfGivenVoices, DefaultIsTheESpeakNgAmericanEnglishVoice) {
    const VoiceRegistry registry({madeUp(EngineKind::Flite, "Flite us", "en-us"),
                                  madeUp(EngineKind::EspeakNg, "eSpeak NG x", "x"),
                                  madeUp(EngineKind::EspeakNg, "eSpeak NG us", "en-us")});
    EXPECT_EQ(registry.defaultVoice().displayName, "eSpeak NG us");
}

TEST(VoiceRegistryOfGivenVoices, ExactNameWinsOverOtherCaseAndOverIds) {
    const VoiceRegistry registry({madeUp(EngineKind::Flite, "Flite ab", "Flite AB"),
                                  madeUp(EngineKind::Flite, "Flite AB", "z")});
    EXPECT_EQ(registry.find("Flite AB").id, "z");
    EXPECT_EQ(registry.find("Flite ab").id, "Flite AB");
    EXPECT_EQ(registry.find("FLITE AB").id, "Flite AB");
}

// One engine that cannot start leaves the other's voices usable; asking for one of its
// voices names it and why.
class OneEngineBroken : public ::testing::TestWithParam<EngineKind> {
protected:
    VoiceRegistry registry() const {
        const auto broken = []() -> std::vector<Voice> {
            throw SpeechError("the engine's own reason");
        };
        const auto working = [](EngineKind engine) {
            return [engine] {
                return std::vector<Voice>{engine == EngineKind::Flite
                                              ? madeUp(engine, "Flite slt", "slt")
                                              : madeUp(engine, "eSpeak NG us", "en-us")};
            };
        };
        std::vector<VoiceSource> sources;
        for (const EngineKind engine : {EngineKind::EspeakNg, EngineKind::Flite})
            sources.push_back({engine, engine == GetParam()
                                           ? std::function<std::vector<Voice>()>(broken)
                                           : working(engine)});
        return VoiceRegistry(sources);
    }
    std::string failureOf(std::string_view engineName) const {
        try {
            registry().find(engineName);
        } catch (const SpeechError& error) {
            return error.what();
        }
        return "found";
    }
    std::string brokenName() const { return engineName(GetParam()); }
};

TEST_P(OneEngineBroken, LeavesItOutSayingWhy) {
    const VoiceRegistry voices = registry();
    ASSERT_EQ(voices.voices().size(), 1u);
    EXPECT_NE(voices.voices().front().engine, GetParam());
    ASSERT_EQ(voices.unavailableEngines().size(), 1u);
    EXPECT_EQ(voices.unavailableEngines().front().engine, GetParam());
    EXPECT_EQ(voices.unavailableEngines().front().reason, "the engine's own reason");
}

TEST_P(OneEngineBroken, ItsVoicesFailNamingItAndWhy) {
    const std::string asked = brokenName() + " Some Voice";
    EXPECT_EQ(failureOf(asked), "cannot use the voice \"" + asked + "\": " + brokenName() +
                                    " is unavailable: the engine's own reason");
    const std::string unknown = failureOf("no such voice");
    EXPECT_NE(unknown.find(brokenName() + " is unavailable: the engine's own reason"),
              std::string::npos)
        << unknown;
}

TEST_P(OneEngineBroken, TheOtherEngineStillServes) {
    const std::string working = GetParam() == EngineKind::Flite ? "eSpeak NG us" : "Flite slt";
    EXPECT_EQ(registry().find(working).displayName, working);
}

TEST_P(OneEngineBroken, TheDefaultVoiceNeedsESpeakNg) {
    if (GetParam() == EngineKind::EspeakNg)
        EXPECT_EQ(failureOf(""), "cannot use the default voice: eSpeak NG is unavailable: the "
                                 "engine's own reason");
    else
        EXPECT_EQ(registry().find("").displayName, "eSpeak NG us");
}

INSTANTIATE_TEST_SUITE_P(Engines, OneEngineBroken,
                         test::sweep(EngineKind::EspeakNg, EngineKind::Flite),
                         [](const auto& info) {
                             return info.param == EngineKind::Flite ? "Flite" : "ESpeakNg";
                         });

TEST(VoiceRegistryOfGivenVoices, WithoutVoicesTheDefaultThrows) {
    const VoiceRegistry registry(std::vector<Voice>{});
    EXPECT_THROW(registry.defaultVoice(), SpeechError);
    EXPECT_THROW(registry.find(""), SpeechError);
    EXPECT_THROW(registry.find("slt"), SpeechError);
}

struct LanguageCase {
    std::string tag;
    std::string voiceId; // empty: no voice
};

class VoiceForLanguage : public InstalledVoices,
                         public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(VoiceForLanguage, ChoosesTheESpeakNgVoiceThatSpeaksIt) {
    const std::optional<Voice> voice = registry().voiceForLanguage(GetParam().tag);
    if (GetParam().voiceId.empty()) {
        EXPECT_FALSE(voice) << voice->id;
        return;
    }
    ASSERT_TRUE(voice) << GetParam().tag;
    EXPECT_EQ(voice->id, GetParam().voiceId);
    EXPECT_EQ(voice->engine, EngineKind::EspeakNg);
    EXPECT_TRUE(speaksLanguage(*voice, GetParam().tag)) << voice->id;
}

INSTANTIATE_TEST_SUITE_P(
    Tags, VoiceForLanguage,
    test::sweep(LanguageCase{"de", "de"}, LanguageCase{"DE", "de"}, LanguageCase{"de-AT", "de"},
                LanguageCase{"de_CH", "de"}, LanguageCase{"en", "en-us"},
                LanguageCase{"en-GB", "en-gb"}, LanguageCase{"en_gb", "en-gb"},
                LanguageCase{"en-Latn-GB", "en-gb"}, LanguageCase{"en-AU", "en-us"},
                LanguageCase{"EN-GB-X-RP", "en-gb-x-rp"}, LanguageCase{"fr", "fr-fr"},
                LanguageCase{"fr-CA", "fr-fr"}, LanguageCase{"fr-BE", "fr-be"},
                LanguageCase{"pt-BR", "pt-br"}, LanguageCase{"pt", "pt"},
                LanguageCase{"es-419", "es-419"}, LanguageCase{"zh", "cmn"},
                LanguageCase{"zh-Hans", "cmn"}, LanguageCase{"zh-Hant-TW", "cmn"},
                LanguageCase{"cmn", "cmn"}, LanguageCase{"zh-yue", "sit/yue"},
                LanguageCase{"yue", "sit/yue"}, LanguageCase{"cmn-Latn-pinyin", "cmn-latn-pinyin"},
                LanguageCase{"no", "nb"}, LanguageCase{"nb-NO", "nb"}, LanguageCase{"iw", "he"},
                LanguageCase{"tlh", ""}, LanguageCase{"xx-YY", ""}, LanguageCase{"", ""},
                LanguageCase{"x-klingon", ""}, LanguageCase{"d3", ""}, LanguageCase{"en us", ""}));

TEST_F(InstalledVoices, SpeakTheirOwnLanguageOnly) {
    const Voice& american = registry().find("en-us");
    const Voice& slt = registry().find("slt");
    const Voice& german = registry().find("de");
    for (const std::string_view tag : {"en", "EN-gb", "en_US", "und"})
        EXPECT_TRUE(speaksLanguage(american, tag) && speaksLanguage(slt, tag)) << tag;
    for (const std::string_view tag : {"de", "fr", "", "x-en", "enx"})
        EXPECT_FALSE(speaksLanguage(american, tag) || speaksLanguage(slt, tag)) << tag;
    EXPECT_TRUE(speaksLanguage(german, "de-AT"));
    EXPECT_TRUE(speaksLanguage(registry().find("cmn"), "zh-Hans"));
}

TEST(VoiceRegistryOfGivenVoices, ChoosesOnlyESpeakNgVoicesForALanguage) {
    const VoiceRegistry registry({madeUp(EngineKind::Flite, "Flite en", "en"),
                                  madeUp(EngineKind::EspeakNg, "eSpeak NG a", "en-029"),
                                  madeUp(EngineKind::EspeakNg, "eSpeak NG b", "en-x")});
    EXPECT_EQ(registry.voiceForLanguage("en")->displayName, "eSpeak NG a");
    EXPECT_FALSE(
        VoiceRegistry({madeUp(EngineKind::Flite, "Flite en", "en")}).voiceForLanguage("en"));
}

} // namespace
} // namespace kestrova::speech

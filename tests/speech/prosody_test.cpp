#include "speech/engines/synthesizer.h"
#include "speech/voice.h"
#include "speech_measures.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace kestrova::speech {
namespace {

// Plain sentences that take each voice about a minute at its own speed.
constexpr const char* oneMinuteText =
    "The morning train left the station a little after seven, carrying farmers, clerks and a "
    "few tired students. Along the river, the old mill still turns its wheel whenever the "
    "water runs high in the spring. She opened the letter slowly, read it twice, and then "
    "folded it back into its envelope without a word. Nobody in the village could remember "
    "when the bridge had last been painted or who had paid for it. The library closes early "
    "on Fridays, so we usually meet at the bakery across the square instead. A cold wind came "
    "down from the hills and rattled the windows of every house along the narrow lane. He "
    "spent the whole afternoon repairing the fence, only to find that the goats had escaped "
    "through the gate. When the lights went out, the children lit candles and told each other "
    "stories until they fell asleep. The museum keeps a small collection of maps drawn by "
    "sailors who crossed the ocean centuries ago. Our neighbour grows tomatoes, beans and "
    "pumpkins, and every autumn she gives most of them away. The doctor listened carefully, "
    "wrote a few notes, and told him to rest for at least a week. By the time the rain "
    "stopped, the streets were full of people hurrying home from work. Every evening the "
    "baker sets aside a loaf of bread for the old man who lives above the shop. In the quiet "
    "hour before dawn, the birds begin to sing one after another across the valley.";

constexpr const char* shortText = "Nobody could remember when the bridge had last been painted.";

const Voice& voiceNamed(const std::string& name) {
    static const VoiceRegistry registry;
    return registry.find(name);
}

std::vector<std::int16_t> render(Synthesizer& synthesizer, const char* text) {
    std::vector<std::int16_t> samples;
    synthesizer.synthesize(text, [&samples](std::span<const std::int16_t> more) {
        samples.insert(samples.end(), more.begin(), more.end());
    });
    return samples;
}

struct Rendering {
    std::vector<std::int16_t> samples;
    int sampleRate;
};

// The one-minute text at each setting, rendered once for all the measures of it.
const Rendering& oneMinute(const std::string& voice, double rate, double pitch) {
    static std::map<std::tuple<std::string, double, double>, Rendering> rendered;
    const auto key = std::make_tuple(voice, rate, pitch);
    if (const auto found = rendered.find(key); found != rendered.end())
        return found->second;
    const auto synthesizer = makeSynthesizer(voiceNamed(voice));
    synthesizer->setProsody(rate, pitch);
    return rendered[key] =
               Rendering{render(*synthesizer, oneMinuteText), synthesizer->sampleRate()};
}

struct RateCase {
    std::string voice;
    double rate;
    double lengthRatio; // of the speech at the voice's own rate
};

class SpeakingRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(SpeakingRate, ChangesHowLongTheSpeechLasts) {
    const Rendering& own = oneMinute(GetParam().voice, 1, 1);
    const Rendering& changed = oneMinute(GetParam().voice, GetParam().rate, 1);
    const double expected = GetParam().lengthRatio;
    // Both from the first sound to the last, and the sounding time alone: the pauses scale
    // as the words do.
    EXPECT_NEAR(test::speakingSeconds(changed.samples, changed.sampleRate) /
                    test::speakingSeconds(own.samples, own.sampleRate),
                expected, expected * 0.1);
    EXPECT_NEAR(test::soundingSeconds(changed.samples, changed.sampleRate) /
                    test::soundingSeconds(own.samples, own.sampleRate),
                expected, expected * 0.1);
}

INSTANTIATE_TEST_SUITE_P(Voices, SpeakingRate,
                         ::testing::Values(RateCase{"eSpeak NG English (America)", 0.5, 2.0},
                                           RateCase{"eSpeak NG English (America)", 1.5, 0.667},
                                           RateCase{"eSpeak NG English (America)", 2.0, 0.5},
                                           RateCase{"Flite slt", 0.5, 2.0},
                                           RateCase{"Flite slt", 1.5, 0.667},
                                           RateCase{"Flite slt", 2.0, 0.5}));

class SpeakingPitch : public ::testing::TestWithParam<std::string> {};

TEST_P(SpeakingPitch, HalfAgainAsHighRaisesTheMedianFrequencyByHalf) {
    const Rendering& own = oneMinute(GetParam(), 1, 1);
    const Rendering& raised = oneMinute(GetParam(), 1, 1.5);
    const double ownFrequency = test::medianFrequency(own.samples, own.sampleRate);
    ASSERT_GT(ownFrequency, 60) << "no voiced frames found";
    EXPECT_NEAR(test::medianFrequency(raised.samples, raised.sampleRate) / ownFrequency, 1.5, 0.15);
}

INSTANTIATE_TEST_SUITE_P(Voices, SpeakingPitch,
                         ::testing::Values("eSpeak NG English (America)", "Flite slt"));

class ProsodyOfOneSynthesizer : public ::testing::TestWithParam<std::string> {};

TEST_P(ProsodyOfOneSynthesizer, BackAtTheVoicesOwnGivesTheSamplesOfOneNeverChanged) {
    const auto untouched = makeSynthesizer(voiceNamed(GetParam()));
    const auto changed = makeSynthesizer(voiceNamed(GetParam()));
    const std::vector<std::int16_t> own = render(*untouched, shortText);

    changed->setProsody(1.7, 1.3);
    const std::vector<std::int16_t> faster = render(*changed, shortText);
    changed->setProsody(1, 1);

    EXPECT_NE(faster, own);
    EXPECT_EQ(render(*changed, shortText), own);
}

TEST_P(ProsodyOfOneSynthesizer, DoesNotReachAnotherOfTheSameVoice) {
    const auto plain = makeSynthesizer(voiceNamed(GetParam()));
    const auto fast = makeSynthesizer(voiceNamed(GetParam()));
    const auto slowAndLow = makeSynthesizer(voiceNamed(GetParam()));
    fast->setProsody(2, 1.5);
    slowAndLow->setProsody(0.6, 0.8);
    const std::vector<std::int16_t> plainFirst = render(*plain, shortText);
    const std::vector<std::int16_t> fastFirst = render(*fast, shortText);
    const std::vector<std::int16_t> slowFirst = render(*slowAndLow, shortText);

    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(render(*fast, shortText), fastFirst) << "round " << round;
        EXPECT_EQ(render(*plain, shortText), plainFirst) << "round " << round;
        EXPECT_EQ(render(*slowAndLow, shortText), slowFirst) << "round " << round;
    }
    EXPECT_LT(fastFirst.size(), plainFirst.size());
    EXPECT_GT(slowFirst.size(), plainFirst.size());
}

INSTANTIATE_TEST_SUITE_P(Voices, ProsodyOfOneSynthesizer,
                         ::testing::Values("eSpeak NG English (America)", "Flite slt",
                                           "Flite kal"));

} // namespace
} // namespace kestrova::speech

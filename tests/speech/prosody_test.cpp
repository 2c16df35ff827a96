#include "speech/engines/synthesizer.h"
#include "speech/voice.h"
#include "support/speech_measures.h"
#include "support/value_sweep.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
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

// Renders in a child forked for it, so that this process never renders: eSpeak NG keeps
// state from one rendering to the next that nothing resets, and the conversions of the other
// tests, whose workers fork from this process, would sound otherwise after it. Each rendering
// starts from the state of a process that has rendered nothing, as each run of a conversion
// does.
using Renderings = std::vector<std::vector<std::int16_t>>;

void writeAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written <= 0)
            ::_exit(1);
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
}

Renderings renderInChild(const std::function<Renderings()>& render) {
    int channel[2];
    if (::pipe(channel) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        for (const std::vector<std::int16_t>& samples : render()) {
            const std::uint64_t count = samples.size();
            writeAll(channel[1], &count, sizeof count);
            writeAll(channel[1], samples.data(), count * sizeof(std::int16_t));
        }
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string bytes;
    char block[65536];
    for (ssize_t got; (got = ::read(channel[0], block, sizeof block)) > 0;)
        bytes.append(block, static_cast<std::size_t>(got));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the rendering child failed");
    Renderings renderings;
    for (std::size_t at = 0; at + sizeof(std::uint64_t) <= bytes.size();) {
        std::uint64_t count = 0;
        std::memcpy(&count, bytes.data() + at, sizeof count);
        at += sizeof count;
        std::vector<std::int16_t>& samples = renderings.emplace_back(count);
        std::memcpy(samples.data(), bytes.data() + at, count * sizeof(std::int16_t));
        at += count * sizeof(std::int16_t);
    }
    return renderings;
}

std::vector<std::int16_t>
renderOneInChild(const std::function<std::vector<std::int16_t>()>& render) {
    return renderInChild([&render] { return Renderings{render()}; }).at(0);
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
    const Voice& named = voiceNamed(voice);
    return rendered[key] = Rendering{renderOneInChild([&] {
                                         const auto synthesizer = makeSynthesizer(named);
                                         synthesizer->setProsody(rate, pitch);
                                         return render(*synthesizer, oneMinuteText);
                                     }),
                                     makeSynthesizer(named)->sampleRate()};
}

struct RateCase {
    std::string voice;
    double rate;
    double lengthRatio; // of the speech at the voice's own rate
};

std::string nameOf(const std::string& voice) {
    std::string name;
    for (char c : voice)
        if (std::isalnum(static_cast<unsigned char>(c)))
            name.push_back(c);
    return name;
}

std::string rateCaseName(const ::testing::TestParamInfo<RateCase>& info) {
    return nameOf(info.param.voice) + "_" +
           std::to_string(static_cast<int>(std::lround(info.param.rate * 100)));
}

std::string voiceCaseName(const ::testing::TestParamInfo<std::string>& info) {
    return nameOf(info.param);
}

class SpeakingRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(SpeakingRate, ChangesHowLongTheSpeechLasts) {
    const Rendering& own = oneMinute(GetParam().voice, 1, 1);
    const Rendering& changed = oneMinute(GetParam().voice, GetParam().rate, 1);
    const double expected = GetParam().lengthRatio;
    // Both from the first sound to the last, and the sounding time alone: the pauses scale
    // as the words do.
    const double speaking = test::speakingSeconds(changed.samples, changed.sampleRate) /
                            test::speakingSeconds(own.samples, own.sampleRate);
    const double sounding = test::soundingSeconds(changed.samples, changed.sampleRate) /
                            test::soundingSeconds(own.samples, own.sampleRate);
    RecordProperty("speaking_ratio", std::to_string(speaking));
    RecordProperty("sounding_ratio", std::to_string(sounding));
    EXPECT_NEAR(speaking, expected, expected * 0.1);
    EXPECT_NEAR(sounding, expected, expected * 0.1);
}

INSTANTIATE_TEST_SUITE_P(Voices, SpeakingRate,
                         test::sweep(RateCase{"eSpeak NG English (America)", 0.5, 2.0},
                                     RateCase{"eSpeak NG English (America)", 1.5, 0.667},
                                     RateCase{"eSpeak NG English (America)", 2.0, 0.5},
                                     RateCase{"Flite slt", 0.5, 2.0},
                                     RateCase{"Flite slt", 1.5, 0.667},
                                     RateCase{"Flite slt", 2.0, 0.5}),
                         rateCaseName);

class SpeakingPitch : public ::testing::TestWithParam<std::string> {};

TEST_P(SpeakingPitch, HalfAgainAsHighRaisesTheMedianFrequencyByHalf) {
    const Rendering& own = oneMinute(GetParam(), 1, 1);
    const Rendering& raised = oneMinute(GetParam(), 1, 1.5);
    const double ownFrequency = test::medianFrequency(own.samples, own.sampleRate);
    ASSERT_GT(ownFrequency, 60) << "no voiced frames found";
    const double raisedFrequency = test::medianFrequency(raised.samples, raised.sampleRate);
    RecordProperty("median_f0",
                   std::to_string(ownFrequency) + " " + std::to_string(raisedFrequency));
    EXPECT_NEAR(raisedFrequency / ownFrequency, 1.5, 0.15);
}

INSTANTIATE_TEST_SUITE_P(Voices, SpeakingPitch,
                         test::sweep("eSpeak NG English (America)", "Flite slt"), voiceCaseName);

class ProsodyOfOneSynthesizer : public ::testing::TestWithParam<std::string> {};

TEST_P(ProsodyOfOneSynthesizer, AtTheVoicesOwnGivesTheSamplesOfOneNeverChanged) {
    const Voice& voice = voiceNamed(GetParam());
    const auto own = renderOneInChild([&voice] {
        const auto synthesizer = makeSynthesizer(voice);
        return render(*synthesizer, shortText);
    });
    const auto changedBack = renderOneInChild([&voice] {
        const auto synthesizer = makeSynthesizer(voice);
        synthesizer->setProsody(1.7, 1.3);
        synthesizer->setProsody(1, 1);
        return render(*synthesizer, shortText);
    });
    const auto changed = renderOneInChild([&voice] {
        const auto synthesizer = makeSynthesizer(voice);
        synthesizer->setProsody(1.7, 1.3);
        return render(*synthesizer, shortText);
    });

    ASSERT_FALSE(own.empty());
    EXPECT_EQ(changedBack, own);
    EXPECT_NE(changed, own);
}

struct Measures {
    std::size_t length;
    double frequency;
};

Measures measure(const std::vector<std::int16_t>& samples, int sampleRate) {
    return {samples.size(), test::medianFrequency(samples, sampleRate)};
}

TEST_P(ProsodyOfOneSynthesizer, DoesNotReachAnotherOfTheSameVoice) {
    const Voice& voice = voiceNamed(GetParam());
    // Each alone, then alternating twice: fastAndHigh, slowAndLow, plain.
    const std::vector<std::size_t> firstOf{1, 2, 0};
    const Renderings renderings = renderInChild([&] {
        const auto plain = makeSynthesizer(voice);
        const auto fastAndHigh = makeSynthesizer(voice);
        const auto slowAndLow = makeSynthesizer(voice);
        fastAndHigh->setProsody(2, 1.5);
        slowAndLow->setProsody(0.6, 0.8);
        const std::vector<Synthesizer*> each{plain.get(), fastAndHigh.get(), slowAndLow.get()};
        Renderings rendered;
        for (Synthesizer* synthesizer : each)
            rendered.push_back(render(*synthesizer, shortText));
        for (int round = 0; round < 2; ++round)
            for (const std::size_t which : firstOf)
                rendered.push_back(render(*each[which], shortText));
        return rendered;
    });
    ASSERT_EQ(renderings.size(), 9u);
    const int rate = makeSynthesizer(voice)->sampleRate();
    std::vector<Measures> first;
    for (std::size_t i = 0; i < 3; ++i)
        first.push_back(measure(renderings[i], rate));

    // Alternating, each speaks as it did alone: as long and as high. (eSpeak NG's lengths
    // vary by a few milliseconds from one rendering to the next; another's rate would change
    // them by a third or more.)
    for (std::size_t turn = 0; turn < 6; ++turn) {
        const Measures& alone = first[firstOf[turn % 3]];
        const Measures again = measure(renderings[3 + turn], rate);
        EXPECT_NEAR(static_cast<double>(again.length), static_cast<double>(alone.length),
                    alone.length * 0.01)
            << "synthesizer " << firstOf[turn % 3];
        EXPECT_NEAR(again.frequency, alone.frequency, alone.frequency * 0.02)
            << "synthesizer " << firstOf[turn % 3];
    }
    EXPECT_LT(first[1].length, first[0].length);
    EXPECT_GT(first[2].length, first[0].length);
    EXPECT_GT(first[1].frequency, first[0].frequency * 1.3);
    EXPECT_LT(first[2].frequency, first[0].frequency * 0.9);
}

INSTANTIATE_TEST_SUITE_P(Voices, ProsodyOfOneSynthesizer,
                         test::sweep("eSpeak NG English (America)", "Flite slt", "Flite kal"),
                         voiceCaseName);

} // namespace
} // namespace kestrova::speech

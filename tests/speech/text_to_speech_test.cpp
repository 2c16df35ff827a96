#include "speech/speech_error.h"
#include "speech/text_to_speech.h"
#include "support/conversion_support.h"
#include "support/value_sweep.h"

#include <gtest/gtest.h>

namespace kestrova::speech {
namespace {

using test::ScratchDir;

class SpeechControl : public ::testing::Test {
protected:
    SpeechControl() : speech(test::installedVoices()) {}

    std::string file(const std::string& name) const { return (scratch / name).string(); }
    // Writes the text, renders it the way the program does and reads the wave back.
    test::SoundFile render(const std::string& bytes, int encodingMode = 2, int first = 0,
                           int count = -1, int formatCode = 22) {
        test::writeBytes(scratch / "in.txt", bytes);
        speech.ConvertTextFileToWave(file("in.txt"), first, encodingMode, count, file("out.wav"),
                                     TextToSpeech::ReplaceExisting, formatCode, 1);
        auto sound = test::readSound(scratch / "out.wav");
        EXPECT_TRUE(sound);
        return sound ? *sound : test::SoundFile{};
    }

    ScratchDir scratch;
    TextToSpeech speech;
};

TEST_F(SpeechControl, StartsWithTheDefaultVoice) {
    EXPECT_EQ(speech.voice().displayName, "eSpeak NG English (America)");
}

struct SelectCase {
    std::string engineName;
    std::string displayName;
};

class SelectVoice : public SpeechControl, public ::testing::WithParamInterface<SelectCase> {};

TEST_P(SelectVoice, ByTheEngineNameProperty) {
    speech.SetEngineProperty(TextToSpeech::engineNameProperty, GetParam().engineName);
    EXPECT_EQ(speech.voice().displayName, GetParam().displayName);
}

INSTANTIATE_TEST_SUITE_P(Names, SelectVoice,
                         test::sweep(SelectCase{"Flite slt", "Flite slt"},
                                     SelectCase{"flite KAL", "Flite kal"},
                                     SelectCase{"rms", "Flite rms"},
                                     SelectCase{"en-us", "eSpeak NG English (America)"},
                                     SelectCase{"", "eSpeak NG English (America)"}));

TEST_F(SpeechControl, PropertyFiveIsTheEngineName) {
    EXPECT_EQ(TextToSpeech::engineNameProperty, 5);
}

TEST_F(SpeechControl, AnUnknownVoiceIsRefusedAndTheVoiceStays) {
    speech.SetEngineProperty(5, "Flite slt");
    EXPECT_THROW(speech.SetEngineProperty(5, "VW Kate"), SpeechError);
    EXPECT_EQ(speech.voice().displayName, "Flite slt");
}

class OtherProperty : public SpeechControl, public ::testing::WithParamInterface<int> {};

TEST_P(OtherProperty, IsRefusedAndTheVoiceStays) {
    speech.SetEngineProperty(5, "Flite kal");
    try {
        speech.SetEngineProperty(GetParam(), "Flite slt");
        FAIL() << "property " << GetParam() << " was accepted";
    } catch (const SpeechError& error) {
        EXPECT_NE(std::string(error.what()).find(std::to_string(GetParam())), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(speech.voice().displayName, "Flite kal");
}

INSTANTIATE_TEST_SUITE_P(Ids, OtherProperty, test::sweep(4, 0, 6, -5, 1000));

struct CallCase {
    std::string voice;
    int formatCode;
    int rate;
};

class ProgramCall : public SpeechControl, public ::testing::WithParamInterface<CallCase> {};

// The one call the program makes: (file, 0, 2, -1, wave, 3, code, 1).
TEST_P(ProgramCall, WritesTheWaveAtTheCodesRate) {
    speech.SetEngineProperty(5, GetParam().voice);
    test::writeBytes(scratch / "in.txt", test::shortText);
    speech.ConvertTextFileToWave(file("in.txt"), 0, 2, -1, file("out.wav"), 3,
                                 GetParam().formatCode, 1);
    const auto sound = test::readSound(scratch / "out.wav");
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->info.samplerate, GetParam().rate);
    EXPECT_EQ(sound->info.channels, 1);
    EXPECT_EQ(sound->info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_GT(sound->seconds(), 0.5);
    EXPECT_GT(sound->peak(), 2000);
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt", "out.wav"}));
}

INSTANTIATE_TEST_SUITE_P(Calls, ProgramCall,
                         test::sweep(CallCase{"", 22, 22050}, CallCase{"", 18, 16000},
                                     CallCase{"Flite slt", 22, 22050},
                                     CallCase{"Flite slt", 18, 16000},
                                     CallCase{"Flite kal", 18, 16000}));

class AnyFileName : public SpeechControl, public ::testing::WithParamInterface<std::string> {};

// The control writes wave files: the name the user chose does not change that.
TEST_P(AnyFileName, GetsAWaveFile) {
    speech.SetEngineProperty(5, "slt");
    test::writeBytes(scratch / "in.txt", test::shortText);
    speech.ConvertTextFileToWave(file("in.txt"), 0, 2, -1, file(GetParam()), 3, 22, 1);
    const auto sound = test::readSound(scratch / GetParam());
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(sound->info.samplerate, 22050);
    EXPECT_GT(sound->info.frames, 0);
}

INSTANTIATE_TEST_SUITE_P(Names, AnyFileName,
                         test::sweep("out.wav", "OUT.WAV", "out", "out.flac", "out.ogg", "out.opus",
                                     "out.mp3", "out.txt.wav"));

TEST_F(SpeechControl, WithoutTheReplaceFlagKeepsAFileAlreadyThere) {
    speech.SetEngineProperty(5, "slt");
    test::writeBytes(scratch / "in.txt", test::shortText);
    test::writeBytes(scratch / "out.wav", "old");
    EXPECT_THROW(speech.ConvertTextFileToWave(file("in.txt"), 0, 2, -1, file("out.wav"),
                                              TextToSpeech::SyncToDisk, 22, 1),
                 SpeechError);
    EXPECT_EQ(test::readBytes(scratch / "out.wav"), "old");
    EXPECT_EQ(scratch.names(), (std::vector<std::string>{"in.txt", "out.wav"}));
    speech.ConvertTextFileToWave(file("in.txt"), 0, 2, -1, file("new.wav"), 0, 22, 1);
    EXPECT_TRUE(test::readSound(scratch / "new.wav"));
}

TEST_F(SpeechControl, RendersOnlyTheCharacterRangeAsked) {
    speech.SetEngineProperty(5, "slt");
    const std::string text = "Hello world. This sentence makes the whole text a good deal "
                             "longer than its first word alone.";
    const double whole = render(text).seconds();
    const double hello = render(text, 2, 0, 5).seconds();
    EXPECT_GT(hello, 0.1);
    EXPECT_LT(hello * 4, whole);
    // The range ends before "world": the same as rendering "Hello" alone.
    EXPECT_EQ(hello, render("Hello").seconds());
}

struct RangeCase {
    std::string name;
    std::string bytes;
    int encodingMode;
    int first;
    int count;
};

void PrintTo(const RangeCase& entry, std::ostream* out) {
    *out << entry.name;
}

class CharacterRange : public SpeechControl, public ::testing::WithParamInterface<RangeCase> {};

// The range counts characters, not bytes: "Hello there." cut out of a text in any encoding
// sounds exactly like "Hello there." alone.
TEST_P(CharacterRange, CountsCharactersInEveryEncoding) {
    speech.SetEngineProperty(5, "slt");
    const test::SoundFile alone = render("Hello there.");
    const test::SoundFile cut =
        render(GetParam().bytes, GetParam().encodingMode, GetParam().first, GetParam().count);
    EXPECT_EQ(cut.info.frames, alone.info.frames);
    EXPECT_TRUE(cut.samples == alone.samples);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Table, CharacterRange,
    test::sweep(RangeCase{"Ascii", "Oh. Hello there. Bye.", 2, 4, 12},
                RangeCase{"AsciiToTheEnd", "Oh. Hello there.", 2, 4, -1},
                RangeCase{
                    "Utf8MultiByteBefore",
                    "\xCE\xA9\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 Hello there. \xC3\xA9\xC3\xA9", 2,
                    5, 12},
                RangeCase{"Utf8WithMark", "\xEF\xBB\xBF\xC3\xA9\xC3\xA9 Hello there.", 2, 3, -1},
                RangeCase{"Windows1252", "\xE9\xE9\x93 Hello there.\x94", 2, 4, 12},
                RangeCase{"Windows1252Named", "\xE9\xE9 Hello there.", 1, 3, 12},
                RangeCase{"Utf16LEWithMark",
                          "\xFF\xFE\xE9\0 \0H\0e\0l\0l\0o\0 \0t\0h\0e\0r\0e\0.\0"s, 2, 2, -1},
                RangeCase{"Utf16BENamed",
                          "\xFE\xFF\0\xE9\0 \0H\0e\0l\0l\0o\0 \0t\0h\0e\0r\0e\0.\0!"s, 4, 2, 12}),
    [](const auto& info) { return info.param.name; });

struct EncodingCase {
    std::string name;
    std::string bytes;
    int encodingMode;
};

void PrintTo(const EncodingCase& entry, std::ostream* out) {
    *out << entry.name;
}

class SameTextAnyEncoding : public SpeechControl,
                            public ::testing::WithParamInterface<EncodingCase> {};

// One text in every encoding the control reads gives the very same speech: the marks are
// not read aloud and every letter arrives.
TEST_P(SameTextAnyEncoding, SoundsTheSame) {
    speech.SetEngineProperty(5, "slt");
    const test::SoundFile reference = render("The caf\xC3\xA9 is open.");
    const test::SoundFile other = render(GetParam().bytes, GetParam().encodingMode);
    EXPECT_EQ(other.info.frames, reference.info.frames);
    EXPECT_TRUE(other.samples == reference.samples);
}

std::string utf16(std::string_view ascii, bool bigEndian) {
    std::string out;
    for (char c : ascii) {
        const char low = c == '\x01' ? '\xE9' : c; // \x01 stands for é
        if (bigEndian)
            out += std::string(1, '\0') + low;
        else
            out += std::string(1, low) + '\0';
    }
    return out;
}

std::string utf32(std::string_view ascii, bool bigEndian) {
    std::string out;
    for (char c : ascii) {
        const char low = c == '\x01' ? '\xE9' : c; // \x01 stands for é
        out += bigEndian ? std::string(3, '\0') + low : low + std::string(3, '\0');
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, SameTextAnyEncoding,
    test::sweep(
        EncodingCase{"Utf8Named", "The caf\xC3\xA9 is open.", 0},
        EncodingCase{"Utf8WithMark", "\xEF\xBB\xBFThe caf\xC3\xA9 is open.", 2},
        EncodingCase{"Utf8WithMarkNamed", "\xEF\xBB\xBFThe caf\xC3\xA9 is open.", 0},
        EncodingCase{"Windows1252", "The caf\xE9 is open.", 2},
        EncodingCase{"Windows1252Named", "The caf\xE9 is open.", 1},
        EncodingCase{"Utf16LEWithMark", "\xFF\xFE" + utf16("The caf\x01 is open.", false), 2},
        EncodingCase{"Utf16LEWithMarkNamed", "\xFF\xFE" + utf16("The caf\x01 is open.", false), 3},
        EncodingCase{"Utf16LEWithoutMark", utf16("The caf\x01 is open.", false), 2},
        EncodingCase{"Utf16LEWithoutMarkNamed", utf16("The caf\x01 is open.", false), 3},
        EncodingCase{"Utf16BEWithMark", "\xFE\xFF" + utf16("The caf\x01 is open.", true), 2},
        EncodingCase{"Utf16BEWithoutMarkNamed", utf16("The caf\x01 is open.", true), 4},
        EncodingCase{"Utf32LEWithMark", "\xFF\xFE\0\0"s + utf32("The caf\x01 is open.", false), 2},
        EncodingCase{"Utf32BEWithMark", "\0\0\xFE\xFF"s + utf32("The caf\x01 is open.", true), 2},
        EncodingCase{"Utf32LEWithoutMarkNamed", utf32("The caf\x01 is open.", false), 5},
        EncodingCase{"Utf32BEWithoutMarkNamed", utf32("The caf\x01 is open.", true), 6},
        EncodingCase{"LineFeeds", "The caf\xC3\xA9\nis open.\n", 2},
        EncodingCase{"CarriageReturnLineFeeds", "The caf\xC3\xA9\r\nis open.\r\n", 2},
        EncodingCase{"Windows1252CarriageReturnLineFeeds", "The caf\xE9\r\nis open.\r\n", 2},
        EncodingCase{"ExtraWhitespace", "  The\n caf\xC3\xA9 \t is   open.  \n", 2}),
    [](const auto& info) { return info.param.name; });

struct NothingCase {
    std::string name;
    int first;
    int count;
};

void PrintTo(const NothingCase& entry, std::ostream* out) {
    *out << entry.name;
}

class EmptyRange : public SpeechControl, public ::testing::WithParamInterface<NothingCase> {};

TEST_P(EmptyRange, GivesAWaveWithoutFrames) {
    speech.SetEngineProperty(5, GetParam().name.starts_with("ESpeak") ? "" : "slt");
    const test::SoundFile sound =
        render(std::string(test::shortText), 2, GetParam().first, GetParam().count);
    EXPECT_EQ(sound.info.frames, 0);
    EXPECT_EQ(sound.info.samplerate, 22050);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, EmptyRange,
    test::sweep(NothingCase{"CountZero", 0, 0}, NothingCase{"ESpeakCountZero", 0, 0},
                NothingCase{"CountZeroMidText", 7, 0}, NothingCase{"StartAtTheEnd", 34, -1},
                NothingCase{"StartPastTheEnd", 1000, 5}, NothingCase{"OnlyASpace", 5, 1}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace kestrova::speech

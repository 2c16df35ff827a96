#include "speech/base/unique_fd.h"
#include "speech/render/worker_protocol.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>

namespace kestrova::speech {
namespace {

struct SocketPair {
    UniqueFd pool;
    UniqueFd worker;
};

SocketPair socketPair() {
    int ends[2] = {-1, -1};
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    return {.pool = UniqueFd(ends[0]), .worker = UniqueFd(ends[1])};
}

// Every field differs from its default and from every other field of its type, so that two
// fields swapped or one left out on the wire change what arrives.
RenderTask distinctTask() {
    RenderTask task;
    task.text = "The chunk's text.";
    task.voice = {.engine = EngineKind::Flite,
                  .displayName = "Flite slt",
                  .id = "slt-id",
                  .language = "en-gb",
                  .nativeRate = 16000,
                  .engineVoice = "cmu_us_slt"};
    task.voiceChanges = {
        {.at = 4,
         .voice = {.engine = EngineKind::EspeakNg,
                   .displayName = "eSpeak NG French (France)",
                   .id = "fr-fr",
                   .language = "fr",
                   .nativeRate = 22050,
                   .engineVoice = "gmw/fr"}},
        {.at = 10,
         .voice = {.engine = EngineKind::Flite,
                   .displayName = "Flite awb",
                   .id = "awb",
                   .language = "en-sc",
                   .nativeRate = 16001,
                   .engineVoice = "cmu_us_awb"}},
        {.at = 12,
         .voice = {
             .engine = EngineKind::Command,
             .displayName = "piper",
             .id = "piper-id",
             .language = "und",
             .nativeRate = 22051,
             .engineVoice = "piper --output-raw",
             .command = {.line = "piper --output-raw", .rawRate = 22052, .timeoutSeconds = 17}}}};
    task.prosody = {.rate = 1.25, .pitch = 0.75, .volume = 0.5};
    task.pauses = {.sentenceMs = 320, .paragraphMs = 910};
    task.trimLeading = true;
    task.trimTrailing = false;
    task.trailingSilenceMs = 4321;
    task.marks = {"first", "second", ""};
    task.endCharacter = 987654321012ULL;
    return task;
}

void expectSameTask(const RenderTask& got, const RenderTask& sent) {
    EXPECT_EQ(got.text, sent.text);
    EXPECT_EQ(got.voice.engine, sent.voice.engine);
    EXPECT_EQ(got.voice.displayName, sent.voice.displayName);
    EXPECT_EQ(got.voice.id, sent.voice.id);
    EXPECT_EQ(got.voice.language, sent.voice.language);
    EXPECT_EQ(got.voice.nativeRate, sent.voice.nativeRate);
    EXPECT_EQ(got.voice.engineVoice, sent.voice.engineVoice);
    ASSERT_EQ(got.voiceChanges.size(), sent.voiceChanges.size());
    for (std::size_t i = 0; i < sent.voiceChanges.size(); ++i) {
        const auto& [gotAt, gotVoice] = got.voiceChanges[i];
        const auto& [sentAt, sentVoice] = sent.voiceChanges[i];
        EXPECT_EQ(std::tie(gotAt, gotVoice.engine, gotVoice.displayName, gotVoice.id,
                           gotVoice.language, gotVoice.nativeRate, gotVoice.engineVoice),
                  std::tie(sentAt, sentVoice.engine, sentVoice.displayName, sentVoice.id,
                           sentVoice.language, sentVoice.nativeRate, sentVoice.engineVoice));
        EXPECT_EQ(std::tie(gotVoice.command.line, gotVoice.command.rawRate,
                           gotVoice.command.timeoutSeconds),
                  std::tie(sentVoice.command.line, sentVoice.command.rawRate,
                           sentVoice.command.timeoutSeconds));
    }
    EXPECT_EQ(got.prosody, sent.prosody);
    EXPECT_EQ(got.pauses.sentenceMs, sent.pauses.sentenceMs);
    EXPECT_EQ(got.pauses.paragraphMs, sent.pauses.paragraphMs);
    EXPECT_EQ(got.trimLeading, sent.trimLeading);
    EXPECT_EQ(got.trimTrailing, sent.trimTrailing);
    EXPECT_EQ(got.trailingSilenceMs, sent.trailingSilenceMs);
    EXPECT_EQ(got.marks, sent.marks);
    EXPECT_EQ(got.endCharacter, sent.endCharacter);
}

// What a task arrives into has other values already: every field is overwritten.
TEST(WorkerProtocol, TaskArrivesAsSentFieldForField) {
    const SocketPair ends = socketPair();
    const RenderTask sent = distinctTask();
    ASSERT_TRUE(sendTask(ends.pool.get(), sent, true));
    RenderTask flipped = sent;
    flipped.trimTrailing = true;
    flipped.pauses = {};
    ASSERT_TRUE(sendTask(ends.pool.get(), flipped, false));

    RenderTask got;
    got.marks = {"stale"};
    bool endsRun = false;
    ASSERT_TRUE(receiveTask(ends.worker.get(), got, endsRun));
    expectSameTask(got, sent);
    EXPECT_TRUE(endsRun);
    EXPECT_EQ(got.sentence, RenderTask::noSentence); // the converter's own, never sent

    ASSERT_TRUE(receiveTask(ends.worker.get(), got, endsRun));
    expectSameTask(got, flipped);
    EXPECT_FALSE(endsRun);
}

// A record cut short, or one with bytes past its fields, is no task.
TEST(WorkerProtocol, RecordOfTheWrongLengthIsNoTask) {
    for (const int change : {-1, +1}) {
        const SocketPair ends = socketPair();
        const SocketPair encoded = socketPair();
        ASSERT_TRUE(sendTask(encoded.pool.get(), distinctTask(), false));
        std::string record(4096, '\0');
        const ssize_t got = ::recv(encoded.worker.get(), record.data(), record.size(), 0);
        ASSERT_GT(got, 4);
        record.resize(static_cast<std::size_t>(got));
        std::uint32_t length = 0;
        std::memcpy(&length, record.data(), sizeof length);
        length = static_cast<std::uint32_t>(static_cast<int>(length) + change);
        std::memcpy(record.data(), &length, sizeof length);
        if (change > 0)
            record.push_back('x');
        else
            record.pop_back();
        ASSERT_TRUE(sendAll(ends.pool.get(), record.data(), record.size()).whole());
        RenderTask task;
        bool endsRun = false;
        EXPECT_FALSE(receiveTask(ends.worker.get(), task, endsRun)) << "length change " << change;
    }
}

} // namespace
} // namespace kestrova::speech

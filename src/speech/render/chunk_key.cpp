#include "speech/render/chunk_key.h"

#include "speech/engines/engine_versions.h"
#include "speech/render/worker_protocol.h"

#include <array>
#include <nettle/sha2.h>

namespace kestrova::speech {
namespace {

std::string hexDigest(const std::string& bytes) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
    std::array<std::uint8_t, SHA256_DIGEST_SIZE> digest{};
    sha256_digest(&context, digest.size(), digest.data());
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : digest) {
        text += hex[byte >> 4];
        text += hex[byte & 0xF];
    }
    return text;
}

} // namespace

ChunkKey::ChunkKey(const Voice& voice, int outputRate) {
    setting_ = std::string(layoutVersion) + '\n' + engineVersions() + '\n' +
               std::to_string(outputRate) + '\n';
    RenderTask voiceAlone;
    voiceAlone.voice = voice;
    encodeTask(voiceAlone, setting_);
}

bool ChunkKey::dependsOnRun(const RenderTask& task) {
    if (task.voice.engine != EngineKind::Command)
        return true;
    for (const VoiceChange& change : task.voiceChanges)
        if (change.voice.engine != EngineKind::Command)
            return true;
    return false;
}

std::string ChunkKey::next(const RenderTask& task, bool startsRun) {
    if (startsRun)
        previous_.clear();
    std::string bytes = setting_;
    if (dependsOnRun(task))
        bytes += previous_;
    bytes += '\n';
    encodeTask(task, bytes);
    previous_ = hexDigest(bytes);
    return previous_;
}

} // namespace kestrova::speech

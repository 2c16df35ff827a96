#include "speech/engine_only_run.h"

#include "speech/engines/synthesizer.h"
#include "speech/text/readers/plain/text_file_reader.h"
#include "speech/text/script/text_chunker.h"

namespace kestrova::speech {

EngineOnlyRun::EngineOnlyRun(const Voice& voice, const std::filesystem::path& textFile) {
    TextFileReader reader(textFile);
    TextChunker chunker;
    std::string decoded;
    while (reader.read(decoded)) {
        for (std::size_t at = 0; at < decoded.size(); at += 4096) {
            chunker.push(std::string_view(decoded).substr(at, 4096));
            while (auto chunk = chunker.next())
                chunks_.push_back(std::move(chunk->text));
        }
    }
    chunker.finish();
    while (auto chunk = chunker.next())
        chunks_.push_back(std::move(chunk->text));
    synthesizer_ = makeSynthesizer(voice);
}

EngineOnlyRun::~EngineOnlyRun() = default;

std::uint64_t EngineOnlyRun::render() {
    std::uint64_t samples = 0;
    for (const std::string& chunk : chunks_)
        synthesizer_->synthesize(
            chunk, [&](std::span<const std::int16_t> part) { samples += part.size(); });
    return samples;
}

} // namespace kestrova::speech

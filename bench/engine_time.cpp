// Times the engine alone on a text: the same chunks the converter renders, handed straight
// to the voice with the samples thrown away. The converter's own work around the engine is
// what a full conversion takes beyond this.
#include "speech/engines/synthesizer.h"
#include "speech/text/text_chunker.h"
#include "speech/text/text_file_reader.h"
#include "speech/voice.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace kestrova::speech;
    if (argc != 3) {
        std::fprintf(stderr, "usage: engine_time VOICE TEXTFILE\n");
        return 2;
    }
    try {
        const VoiceRegistry registry;
        const Voice& voice = registry.find(argv[1]);
        TextFileReader reader(argv[2]);
        TextChunker chunker;
        std::vector<std::string> chunks;
        std::string decoded;
        while ((decoded.clear(), reader.read(decoded))) {
            for (std::size_t at = 0; at < decoded.size(); at += 4096) {
                chunker.push(std::string_view(decoded).substr(at, 4096));
                while (auto chunk = chunker.next())
                    chunks.push_back(std::move(chunk->text));
            }
        }
        chunker.finish();
        while (auto chunk = chunker.next())
            chunks.push_back(std::move(chunk->text));

        const auto synthesizer = makeSynthesizer(voice);
        std::uint64_t samples = 0;
        const auto start = std::chrono::steady_clock::now();
        for (const std::string& chunk : chunks)
            synthesizer->synthesize(
                chunk, [&](std::span<const std::int16_t> part) { samples += part.size(); });
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        std::printf("%.3f %llu %zu\n", elapsed.count(), static_cast<unsigned long long>(samples),
                    chunks.size());
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "engine_time: %s\n", failure.what());
        return 1;
    }
    return 0;
}

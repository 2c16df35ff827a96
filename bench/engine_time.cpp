// Times the engine alone on a text: the same chunks the converter renders, handed straight
// to the voice with the samples thrown away. The converter's own work around the engine is
// what a full conversion takes beyond this.
#include "speech/engine_only_run.h"
#include "speech/voice.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>

int main(int argc, char** argv) {
    using namespace kestrova::speech;
    if (argc != 3) {
        std::fprintf(stderr, "usage: engine_time VOICE TEXTFILE\n");
        return 2;
    }
    try {
        const VoiceRegistry registry;
        EngineOnlyRun run(registry.find(argv[1]), argv[2]);
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        const std::uint64_t samples = run.render();
        const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        // Wall seconds, samples, chunks, CPU seconds.
        std::printf("%.3f %llu %zu %.3f\n", elapsed.count(),
                    static_cast<unsigned long long>(samples), run.chunkCount(), cpu);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "engine_time: %s\n", failure.what());
        return 1;
    }
    return 0;
}

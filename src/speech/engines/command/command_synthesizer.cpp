#include "speech/engines/command/command_synthesizer.h"

#include "speech/engines/command/command_sound.h"
#include "speech/engines/command/voice_command_run.h"
#include "speech/speech_error.h"

#include <span>

namespace kestrova::speech {
namespace {

CommandSound soundOf(const VoiceCommand& command, const std::string& text,
                     const std::atomic<bool>* cancel,
                     std::optional<PrivateFolder>* folder = nullptr) {
    const std::string bytes = runVoiceCommand(command, text, cancel, folder);
    return command.rawRate > 0 ? decodedRaw(bytes, command.rawRate, commandInWords(command))
                               : decodedWave(bytes, commandInWords(command));
}

// "piper" of "piper --model x": the first word, else the whole line.
std::string firstWord(const std::string& line) {
    const std::size_t start = line.find_first_not_of(" \t\n");
    if (start == std::string::npos)
        return line;
    const std::size_t end = line.find_first_of(" \t\n", start);
    return line.substr(start, end == std::string::npos ? end : end - start);
}

} // namespace

Voice commandVoice(const VoiceCommand& command, std::string name, const std::atomic<bool>* cancel) {
    const CommandSound probe = soundOf(command, "Hello.", cancel);
    if (name.empty())
        name = firstWord(command.line);
    return {.engine = EngineKind::Command,
            .displayName = name,
            .id = name,
            .language =
                "und", // unknown: a document's own language is its, others a voice of theirs
            .nativeRate = probe.rate,
            .engineVoice = command.line,
            .command = command};
}

CommandSynthesizer::CommandSynthesizer(const Voice& voice)
    : command_(voice.command), rate_(voice.nativeRate) {}

void CommandSynthesizer::synthesize(const std::string& text, const SampleSink& sink) {
    const CommandSound sound = soundOf(command_, text, nullptr, &folder_);
    if (sound.rate != rate_)
        throw SpeechError(commandInWords(command_) + " wrote sound at " +
                          std::to_string(sound.rate) + " Hz, where its first sound was at " +
                          std::to_string(rate_) + " Hz");
    sink(std::span<const std::int16_t>(sound.samples));
}

} // namespace kestrova::speech

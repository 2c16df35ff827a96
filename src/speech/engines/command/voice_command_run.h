#pragma once

#include "speech/engines/command/private_folder.h"
#include "speech/voice.h"

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>

namespace kestrova::speech {

// The most sound one run of a voice command may give: an hour of 48 kHz 32-bit stereo is less.
inline constexpr std::size_t mostCommandSoundBytes = std::size_t{1} << 30;
// How much of the last line the command wrote on its standard error a message shows.
inline constexpr std::size_t shownErrorBytes = 200;

// "the voice command "piper --model x"": how messages name a command.
std::string commandInWords(const VoiceCommand& command);

// Runs the command once on text: the bytes of the sound it wrote, on its standard output or
// into {wav}. Its files are in a private folder, removed after; with folder given, in that
// one, made with the first run that names a file and kept for the next runs (a folder is a
// sweeper's process too). Throws SpeechError naming the
// command, its exit status or signal and the last line of its standard error; for a command
// that writes no sound, or one that outlasts its timeout (its process group is then ended);
// ConversionCancelled, its group ended, once cancel is set.
std::string runVoiceCommand(const VoiceCommand& command, const std::string& text,
                            const std::atomic<bool>* cancel = nullptr,
                            std::optional<PrivateFolder>* folder = nullptr);

} // namespace kestrova::speech

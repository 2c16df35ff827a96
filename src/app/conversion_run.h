#pragma once

#include "desktop.h"

#include <string>
#include <string_view>

namespace kestrova::app {

inline constexpr std::string_view applicationTitle = "Kestrova WAV Converter";
inline constexpr std::string_view saveFilter = "Windows PCM (*.wav)";
inline constexpr std::string_view completionMessage = "Wave file created.";
inline constexpr std::string_view refusalMessage =
    "This program cannot be run outside of the main Kestrova Text-to-Speech Reader application";
inline constexpr std::string_view refusalTitle = "Error";

// The program's exit statuses.
enum ExitStatus { ExitSuccess = 0, ExitFailure = 1, ExitRefused = 2 };

// Asks where the wave file goes, renders the text file into it with the named engine,
// says "Wave file created.", deletes the text file and closes the window. A cancelled
// dialog, a window closed during the rendering, or a stop signal, ends it quietly with the
// text file in place. A failure is shown, the text file stays, and no partial wave file is
// left. The text file is deleted only if it is still the file that was converted.
ExitStatus ConvertToWave(const std::string& EngineName, const std::string& FileToOpen,
                         ConversionPlatform& platform);

// The start-up: checks and splits the hand-off string, then runs the conversion; without a
// hand-off it refuses with a message. Returns the exit status.
ExitStatus launchHandOff(std::string_view handOff, ConversionPlatform& platform);

} // namespace kestrova::app

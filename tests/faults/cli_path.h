#pragma once

// The command-line converter every fault test runs: the one this build made.
namespace kestrova {

inline constexpr const char* cliPath = KESTROVA_CLI_PATH;

} // namespace kestrova

#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace CLI {
class App;
}

namespace kestrova::cli {

enum class Shell { Bash, Zsh, Fish };

// "bash", "zsh" or "fish".
std::optional<Shell> shellNamed(std::string_view name);

// A completion script for the shell, made from the command line's own declarations: its
// verbs, their options with the values they take (a list of names where the option has
// one, files where it takes any text, nothing where it takes a number) and their help.
// An option declared later completes without anyone writing it here.
std::string completionScript(const CLI::App& commandLine, Shell shell);

} // namespace kestrova::cli

#pragma once

namespace kestrova::cli {

// kestrova-wav-cli: "voices" lists the voices, "convert" renders a text file. Returns the
// exit status: 0 success, 1 failure, 2 bad usage.
int run(int argc, char** argv);

} // namespace kestrova::cli

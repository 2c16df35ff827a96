#include "cli/command_line.h"
#include "speech/stop_signal_owner.h"

int main(int argc, char** argv) {
    // First of all: a stop signal in any state asks the program to stop, and it ends at once
    // with its usual line, never by the signal's default with none.
    kestrova::speech::StopSignalOwner::takeStops();
    return kestrova::cli::run(argc, argv);
}

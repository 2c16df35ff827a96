#pragma once

#include <array>
#include <atomic>
#include <csignal>

namespace kestrova::speech {

// The one owner of the process's signal handlers. SIGINT, SIGTERM and SIGHUP (a logout) ask
// the program to stop; they and every other signal that ends a process unhandled first remove
// the guarded temporary file, if any, and then end the process as the signal's default does.
// A program that stops by itself takes the stop signals (takeStops): a stop then only sets
// the stop flag, and writes the signal's number into a descriptor the program reads, where it
// gives one; the program then ends itself, naming what it stopped. The handlers are installed
// once; handlers of a program's own and ignored signals stay as they are, and a process forked
// meanwhile never removes its parent's file.
class StopSignalOwner {
public:
    StopSignalOwner() = delete;

    // The signals that ask the program to stop.
    static constexpr std::array<int, 3> stopSignals{SIGINT, SIGTERM, SIGHUP};

    // notifyFd: the writing end of a non-blocking pipe, or -1 for the flag alone.
    static void takeStops(int notifyFd = -1);
    // A stop ends the process again, as if the program had never taken it.
    static void releaseStops();
    // The stop signal that came while the stops were taken; 0 while none has.
    static int stopSignal();
    // Set once a stop signal has come while the stops were taken: the cancel flag of a
    // conversion.
    static const std::atomic<bool>* stopFlag();

    // The one temporary file removed when a signal, or exit(), ends the process before the
    // file is done with: folder is an open descriptor of its folder, kept open meanwhile.
    // False when another file holds the place, or the name is too long to keep.
    static bool guardFile(int folder, const char* name);
    static void releaseFile();
};

} // namespace kestrova::speech

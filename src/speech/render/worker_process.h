#pragma once

#include "speech/voice.h"

namespace kestrova::speech {

// A worker process's whole life: render the chunks sent on socket, each run of them in a
// child forked for it, which replies with their records, until the socket closes. Never
// returns.
[[noreturn]] void serveChunks(int socket, const Voice& voice, int outputRate);

} // namespace kestrova::speech

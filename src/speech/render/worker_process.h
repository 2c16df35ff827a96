#pragma once

#include "speech/render/sample_ring.h"
#include "speech/voice.h"

namespace kestrova::speech {

// A worker process's whole life: render the chunks sent on socket, each run of them in a
// child forked for it, which replies with their records, until the socket closes. The
// samples go into ring where they fit, and through the socket where they do not. Never
// returns.
[[noreturn]] void serveChunks(int socket, const Voice& voice, int outputRate, SampleRing& ring);

} // namespace kestrova::speech

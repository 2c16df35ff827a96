#include "speech/engines/engine_versions.h"

#include <espeak-ng/speak_lib.h>
#include <flite/flite_version.h>

namespace kestrova::speech {

std::string engineVersions() {
    const char* dataPath = nullptr;
    const char* espeak = espeak_Info(&dataPath);
    return std::string("eSpeak NG ") + (espeak ? espeak : "") + ", Flite " FLITE_PROJECT_VERSION;
}

} // namespace kestrova::speech

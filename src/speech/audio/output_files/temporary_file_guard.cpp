#include "temporary_file_guard.h"

#include "speech/stop_signal_owner.h"

namespace kestrova::speech {

TemporaryFileGuard::TemporaryFileGuard(int folder, const std::string& name)
    : active_(StopSignalOwner::guardFile(folder, name.c_str())) {}

TemporaryFileGuard::~TemporaryFileGuard() {
    if (active_)
        StopSignalOwner::releaseFile();
}

} // namespace kestrova::speech

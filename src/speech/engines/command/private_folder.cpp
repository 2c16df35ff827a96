#include "speech/engines/command/private_folder.h"

#include "speech/speech_error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace kestrova::speech {

PrivateFolder::PrivateFolder() {
    const char* const temporary = std::getenv("TMPDIR");
    std::string pattern =
        std::string(temporary && *temporary ? temporary : "/tmp") + "/kestrova-voice-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw SpeechError("cannot make a folder for the voice command in " +
                          pattern.substr(0, pattern.rfind('/')) + ": " + std::strerror(errno));
    path_ = std::move(pattern);
}

PrivateFolder::~PrivateFolder() {
    for (const std::string& path : removed())
        if (::unlink(path.c_str()) != 0)
            ::rmdir(path.c_str());
}

std::string PrivateFolder::file(const std::string& name) {
    return files_.emplace_back(path_ + "/" + name);
}

std::vector<std::string> PrivateFolder::removed() const {
    std::vector<std::string> paths = files_;
    paths.push_back(path_);
    return paths;
}

} // namespace kestrova::speech

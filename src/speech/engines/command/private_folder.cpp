#include "speech/engines/command/private_folder.h"

#include "speech/speech_error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace kestrova::speech {
namespace private_folder {

std::string madeFolder() {
    const char* const temporary = std::getenv("TMPDIR");
    std::string pattern =
        std::string(temporary && *temporary ? temporary : "/tmp") + "/kestrova-voice-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw SpeechError("cannot make a folder for the voice command in " +
                          pattern.substr(0, pattern.rfind('/')) + ": " + std::strerror(errno));
    return pattern;
}

} // namespace private_folder

PrivateFolder::PrivateFolder() : path_(private_folder::madeFolder()), sweeper_(path_) {}

// A folder left with files of no name given (a command's own) is the sweeper's to empty.
PrivateFolder::~PrivateFolder() {
    removeFiles();
    if (::rmdir(path_.c_str()) == 0)
        sweeper_.folderRemoved();
}

void PrivateFolder::removeFiles() noexcept {
    for (const std::string& path : files_)
        ::unlink(path.c_str());
    files_.clear();
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

#pragma once

#include <string>
#include <vector>

namespace kestrova::speech {

// A folder of this process's own (mode 0700) under $TMPDIR, else /tmp, for the files a voice
// command reads and writes; removed with the files named in it when it goes.
class PrivateFolder {
public:
    PrivateFolder(); // throws SpeechError when it cannot be made
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // The path of a file in it, removed with it.
    std::string file(const std::string& name);
    // The files named, then the folder: what is removed, in order.
    std::vector<std::string> removed() const;

private:
    std::string path_;
    std::vector<std::string> files_;
};

} // namespace kestrova::speech

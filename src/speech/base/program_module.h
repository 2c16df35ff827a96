#pragma once

#include <memory>
#include <string>

namespace kestrova::speech {

// One of the program's own modules (kestrova-mp4.so, kestrova-pdf.so), whose libraries only
// the conversions that need them load. Looked for beside the program (a build tree), then in
// the folder it is installed into, found from the installed program. Kept loaded once loaded
// (RTLD_NODELETE): the libraries behind them are not made to be unloaded and loaded again for
// each file of a batch.
class ProgramModule {
public:
    explicit ProgramModule(std::string fileName);

    bool loaded() const { return handle_ != nullptr; }
    const std::string& fileName() const { return fileName_; }
    // Why it is not loaded: "it is not installed beside the program", or dlerror()'s words.
    const std::string& failure() const { return failure_; }
    // The entry of that name; nullptr where the module has none (it is not the program's).
    void* symbol(const char* name) const;

private:
    struct Close {
        void operator()(void* handle) const;
    };
    std::string fileName_;
    std::string failure_;
    std::unique_ptr<void, Close> handle_;
};

} // namespace kestrova::speech

#include "speech/audio/mp4/mp4_output.h"

#include "speech/file_failures.h"
#include "speech/speech_error.h"

#include <dlfcn.h>
#include <system_error>

namespace kestrova::speech {
namespace {

constexpr const char* moduleName = "kestrova-mp4.so";

// Beside the program, as a build tree has it; then the installed folder, the same way from
// the installed program.
std::vector<std::filesystem::path> moduleCandidates() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    const std::filesystem::path folder = program.parent_path();
    return {folder / moduleName, folder / KESTROVA_MODULE_DIR_FROM_BIN / moduleName};
}

} // namespace

void Mp4Output::ModuleClose::operator()(void* module) const {
    ::dlclose(module);
}

Mp4Output::Mp4Output(const Mp4WriterArguments& arguments) {
    std::string reason = "it is not installed beside the program";
    for (const std::filesystem::path& candidate : moduleCandidates()) {
        std::error_code error;
        if (!std::filesystem::exists(candidate, error))
            continue;
        // Kept loaded once loaded (RTLD_NODELETE): FFmpeg's libraries are not made to be
        // unloaded and loaded again for each file of a batch.
        module_.reset(::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
        if (module_)
            break;
        reason = ::dlerror();
    }
    if (!module_)
        throw FileError(
            outputFailure(arguments.path,
                          std::string("its encoder ") + moduleName + " cannot be loaded: " + reason,
                          soundFileKind(Container::M4b)));
    const auto open =
        reinterpret_cast<OpenMp4Writer>(::dlsym(module_.get(), "kestrova_open_mp4_writer"));
    if (open == nullptr)
        throw FileError(outputFailure(
            arguments.path, std::string("its encoder ") + moduleName + " is not the program's",
            soundFileKind(Container::M4b)));
    writer_.reset(open(arguments));
}

Mp4Output::~Mp4Output() = default;
Mp4Output::Mp4Output(Mp4Output&&) noexcept = default;
Mp4Output& Mp4Output::operator=(Mp4Output&&) noexcept = default;

} // namespace kestrova::speech

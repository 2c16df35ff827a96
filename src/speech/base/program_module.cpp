#include "speech/base/program_module.h"

#include <dlfcn.h>
#include <filesystem>
#include <system_error>
#include <vector>

namespace kestrova::speech {
namespace {

std::vector<std::filesystem::path> moduleCandidates(const std::string& fileName) {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    const std::filesystem::path folder = program.parent_path();
    return {folder / fileName, folder / KESTROVA_MODULE_DIR_FROM_BIN / fileName};
}

} // namespace

void ProgramModule::Close::operator()(void* handle) const {
    ::dlclose(handle);
}

ProgramModule::ProgramModule(std::string fileName)
    : fileName_(std::move(fileName)), failure_("it is not installed beside the program") {
    for (const std::filesystem::path& candidate : moduleCandidates(fileName_)) {
        std::error_code error;
        if (!std::filesystem::exists(candidate, error))
            continue;
        handle_.reset(::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
        if (handle_) {
            failure_.clear();
            return;
        }
        failure_ = ::dlerror();
    }
}

void* ProgramModule::symbol(const char* name) const {
    return handle_ ? ::dlsym(handle_.get(), name) : nullptr;
}

} // namespace kestrova::speech

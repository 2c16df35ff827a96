#include "speech/audio/mp4/mp4_output.h"

#include "speech/file_failures.h"
#include "speech/speech_error.h"

namespace kestrova::speech {

Mp4Output::Mp4Output(const Mp4WriterArguments& arguments) : module_("kestrova-mp4.so") {
    if (!module_.loaded())
        throw FileError(outputFailure(arguments.path,
                                      "its encoder " + module_.fileName() +
                                          " cannot be loaded: " + module_.failure(),
                                      soundFileKind(Container::M4b)));
    const auto open = reinterpret_cast<OpenMp4Writer>(module_.symbol("kestrova_open_mp4_writer"));
    if (open == nullptr)
        throw FileError(outputFailure(arguments.path,
                                      "its encoder " + module_.fileName() + " is not the program's",
                                      soundFileKind(Container::M4b)));
    writer_.reset(open(arguments));
}

Mp4Output::~Mp4Output() = default;
Mp4Output::Mp4Output(Mp4Output&&) noexcept = default;
Mp4Output& Mp4Output::operator=(Mp4Output&&) noexcept = default;

} // namespace kestrova::speech

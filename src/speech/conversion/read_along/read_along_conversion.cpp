#include "speech/audio/output_files/output_target.h"
#include "speech/conversion/read_along/made_book.h"
#include "speech/conversion/read_along/read_along_book.h"
#include "speech/engines/command/private_folder.h"
#include "speech/file_failures.h"
#include "speech/quoted_name.h"
#include "speech/read_along.h"
#include "speech/render/kept_chunks.h"
#include "speech/request_check.h"
#include "speech/whole_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <vector>

namespace kestrova::speech {
namespace {

namespace fs = std::filesystem;

constexpr const char* bookKind = "read-along book";

void refuseWhatABookCannotBe(const ConversionRequest& asked) {
    if (asked.output.toStandardOutput)
        throw RequestRefused(RefusalKind::Usage,
                             "a read-along book is written into a file, not standard output");
    if (asked.chapters.split)
        throw RequestRefused(RefusalKind::Usage,
                             "a read-along book holds its own audio files: no --split-chapters");
}

// The whole narration, into one mono 16-bit wave file at the rate of the book's audio; the
// lossy audio gets the ceiling on its true peak any lossy file gets.
OutputSettings narrationOutput(const ConversionRequest& asked, const fs::path& wave) {
    const Container audio = asked.output.container.value_or(Container::Mp3);
    return OutputSettings{
        .path = wave,
        .toStandardOutput = false,
        .format = {.sampleRate = writtenFormat(audio, asked.output.format).sampleRate,
                   .bitsPerSample = 16,
                   .channels = 1},
        .container = Container::Wave,
        .bitrateKbps = std::nullopt,
        .replaceExisting = true,
        .syncToDisk = false,
        // Beside the book, not in the private folder that goes with the run.
        .resume = asked.output.resume,
        .keptBeside = asked.output.path,
        .tags = {},
        .coverFile = {}};
}

// The plan's request as it was asked, whatever ends the conversion.
struct RequestRestored {
    ConversionPlan& plan;
    ConversionRequest asked;
    ~RequestRestored() { plan.request() = asked; }
};

void copyInto(const fs::path& built, OutputTarget& target, const fs::path& shownAs) {
    const UniqueFd file(::open(built.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file)
        throw FileError(outputFailure(shownAs, std::strerror(errno), bookKind));
    std::vector<char> block(std::size_t{1} << 20);
    for (;;) {
        const ssize_t got = ::read(file.get(), block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw FileError(outputFailure(shownAs, std::strerror(errno), bookKind));
        if (got == 0)
            return;
        const Transfer written = writeAll(target.fd(), block.data(), static_cast<std::size_t>(got));
        if (!written.whole())
            throw FileError(
                outputFailure(shownAs, std::strerror(written.failure(ENOSPC)), bookKind));
    }
}

// A failure writing a file of the private folder (the narration, an audio file, the book
// before its copy) is the book's: named by the user's file, the reason kept, and the folder
// said, since its disk is the one that filled. A message that names no such file stays.
[[noreturn]] void rethrowForTheBook(const FileError& failure, const fs::path& book,
                                    const PrivateFolder& folder) {
    const std::string message = failure.what();
    const std::size_t named = message.find(folder.path());
    const std::size_t reason = named == std::string::npos ? named : message.find("\": ", named);
    if (reason == std::string::npos)
        throw failure;
    throw FileError(outputFailure(book,
                                  message.substr(reason + 3) + " (in the folder of its pieces, " +
                                      quotedName(folder.path()) + ")",
                                  bookKind));
}

fs::path madeBookWritten(const ConversionRequest& asked, PrivateFolder& folder,
                         const fs::path& wave, const SpeechTimings& timings,
                         const std::atomic<bool>* cancel) {
    const read_along::MadeBook made = read_along::makeBook(asked, timings, folder);
    ConversionRequest narrated = asked;
    narrated.input.path = made.file;
    read_along::ReadAlongBook book(narrated, folder, cancel);
    return book.write(wave, made.timings);
}

} // namespace

ConversionResult convertToReadAlongBook(ConversionPlan& plan, const ProgressCallback& progress,
                                        const std::atomic<bool>* cancel) {
    const ConversionRequest asked = plan.request();
    refuseWhatABookCannotBe(asked);
    const OutputTarget::Options targetOptions{.replaceExisting = asked.output.replaceExisting,
                                              .standardOutput = false,
                                              .container = std::nullopt,
                                              .cancel = cancel,
                                              .fifoAllowed = false,
                                              .fileKind = bookKind};
    OutputTarget::checkBeforehand(asked.output.path, targetOptions);
    refuseOutputOverInput(asked.input.path, asked.output.path);

    PrivateFolder folder;
    // An EPUB's package is read before anything is rendered: a book it cannot be is refused
    // first. Any other input's book is made of what was read aloud.
    std::optional<read_along::ReadAlongBook> book;
    if (asked.input.kind == InputKind::Epub)
        book.emplace(asked, folder, cancel);
    const fs::path wave = folder.file("narration.wav");
    ConversionResult result;
    {
        const RequestRestored restored{.plan = plan, .asked = asked};
        ConversionRequest& rendering = plan.request();
        rendering.output = narrationOutput(asked, wave);
        rendering.chapters.recordTimings = true;
        if (!rendering.mastering.loudness.truePeakDbtp)
            rendering.mastering.loudness.truePeakDbtp = defaultTruePeakDbtp;
        try {
            result = convertTextFile(plan, progress, cancel);
        } catch (const ConversionCancelled&) {
            // The narration's wave file is a private one: the user's file is the book.
            throw ConversionCancelled(
                outputFailure(asked.output.path, "the conversion was cancelled", bookKind));
        } catch (const FileError& failure) {
            rethrowForTheBook(failure, asked.output.path, folder);
        }
    }
    fs::path built;
    try {
        built = book ? book->write(wave, result.timings)
                     : madeBookWritten(asked, folder, wave, result.timings, cancel);
    } catch (const FileError& failure) {
        rethrowForTheBook(failure, asked.output.path, folder);
    }
    OutputTarget target(asked.output.path, targetOptions);
    copyInto(built, target, asked.output.path);
    if (cancel != nullptr && cancel->load())
        throw ConversionCancelled(
            outputFailure(asked.output.path, "the conversion was cancelled", bookKind));
    target.commit(asked.output.replaceExisting, asked.output.syncToDisk);
    if (asked.output.resume)
        KeptChunks::removeFolderFor(asked.output.path);
    result.format =
        writtenFormat(asked.output.container.value_or(Container::Mp3), asked.output.format);
    result.wroteFile = true;
    return result;
}

} // namespace kestrova::speech

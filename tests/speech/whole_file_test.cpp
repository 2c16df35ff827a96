// The one whole-file loader of the readers (HTML, Markdown, covers): the limit holds for a
// regular file and for a device without end, the cancel flag stops it, and every failure is
// worded by the reader's own function with its limit.

#include "speech/base/whole_file.h"
#include "speech/cover_art.h"
#include "speech/speech_error.h"
#include "speech/text/readers/plain/text_file_reader.h"
#include "support/test_support.h"

#include <atomic>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace kestrova::speech {
namespace {

std::string named(const std::string& reason) {
    return "cannot read \"x\": " + reason;
}

std::string failureOf(const std::filesystem::path& path, const WholeFileLimit& limit) {
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    try {
        return "read " + std::to_string(readWholeFile(file.get(), limit).size()) + " bytes";
    } catch (const ConversionCancelled& cancelled) {
        return std::string("cancelled: ") + cancelled.what();
    } catch (const FileError& failure) {
        return failure.what();
    }
}

TEST(WholeFile, HoldsEachFileToItsLimitAndWordsItOneWay) {
    const test::ScratchDir scratch;
    std::ofstream(scratch / "limit.txt") << std::string(3 << 20, 'a');
    EXPECT_EQ(failureOf(scratch / "limit.txt",
                        {.maxBytes = 3 << 20, .cancel = nullptr, .failure = named, .tooLarge = {}}),
              "read 3145728 bytes");
    EXPECT_EQ(
        failureOf(scratch / "limit.txt",
                  {.maxBytes = (3 << 20) - 1, .cancel = nullptr, .failure = named, .tooLarge = {}}),
        "cannot read \"x\": it is larger than 3145727 bytes");
    // A device has no size to look at first, nor an end: it is stopped at its limit.
    EXPECT_EQ(failureOf("/dev/zero",
                        {.maxBytes = 2 << 20, .cancel = nullptr, .failure = named, .tooLarge = {}}),
              "cannot read \"x\": it is larger than 2 MiB");
    EXPECT_EQ(failureOf("/dev/zero", {.maxBytes = 2 << 20,
                                      .cancel = nullptr,
                                      .failure = named,
                                      .tooLarge = "a file may be at most 2 MiB"}),
              "cannot read \"x\": a file may be at most 2 MiB");
    const std::atomic<bool> cancel{true};
    EXPECT_EQ(failureOf("/dev/zero",
                        {.maxBytes = 2 << 20, .cancel = &cancel, .failure = named, .tooLarge = {}}),
              "cancelled: cannot read \"x\": the conversion was cancelled");
}

// The text file's readers name it as the text file; a cover names it as the cover.
TEST(WholeFile, ReadersNameTheirFiles) {
    const test::ScratchDir scratch;
    const std::filesystem::path text = scratch / "page.html";
    std::ofstream(text) << std::string(100, 'a');
    EXPECT_EQ(
        readWholeTextFile(text, {.maxBytes = 100, .cancel = nullptr, .failure = {}, .tooLarge = {}})
            .size(),
        100u);
    try {
        readWholeTextFile(text, {.maxBytes = 99, .cancel = nullptr, .failure = {}, .tooLarge = {}});
        ADD_FAILURE() << "read past its limit";
    } catch (const FileError& failure) {
        EXPECT_EQ(std::string(failure.what()), "cannot read the text file \"" + text.string() +
                                                   "\": it is larger than 99 bytes");
    }
    try {
        readWholeTextFile("/dev/zero",
                          {.maxBytes = 99, .cancel = nullptr, .failure = {}, .tooLarge = {}});
        ADD_FAILURE() << "read a device as a text file";
    } catch (const FileError& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "cannot read the text file \"/dev/zero\": it is not a regular file");
    }
    try {
        readCoverArt("/dev/zero");
        ADD_FAILURE() << "read a cover without end";
    } catch (const FileError& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "cannot use the cover \"/dev/zero\": it is larger than 8 MiB");
    }
}

} // namespace
} // namespace kestrova::speech

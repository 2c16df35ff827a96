#pragma once

#include "speech/base/unique_fd.h"
#include "speech/base/whole_file.h"
#include "speech/file_identity.h"
#include "speech/text/readers/plain/text_decoder.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrova::speech {

// Reads a text file as clean UTF-8 in pieces of bounded size, whatever the file's length.
// The encoding is settled before the first piece: a byte order mark (UTF-8, UTF-16 or
// UTF-32), UTF-16 without one,
// or else UTF-8 if the whole file is valid UTF-8 and Windows-1252 if it is not.
class TextFileReader {
public:
    // A set cancel flag stops the pass over the whole file that settles the encoding, with
    // ConversionCancelled naming the file.
    explicit TextFileReader(const std::filesystem::path& path,
                            TextEncoding encoding = TextEncoding::Automatic,
                            const std::atomic<bool>* cancel = nullptr);
    // The file already open as `file` (none: opened by its path), named `path` in messages.
    TextFileReader(const std::filesystem::path& path, UniqueFd file, TextEncoding encoding,
                   const std::atomic<bool>* cancel);

    TextEncoding encoding() const { return encoding_; }
    // The number of characters in the file, for progress; exact for UTF-8, Windows-1252,
    // UTF-32 and UTF-16 outside the astral planes.
    std::uint64_t totalCharacters() const { return totalCharacters_; }

    // The bytes of the byte order mark the file starts with; 0 for none.
    std::size_t markLength() const { return markLength_; }

    // The file as it was when it was opened.
    const FileIdentity& identity() const { return identity_; }

    // Replaces output with the next decoded piece (which may be empty); false, and output
    // empty, once the file is exhausted.
    bool read(std::string& output);
    // Replaces output with the next piece of the file's own bytes, from its very first byte and
    // undecoded, for a reader that decodes the file itself (XML names its encoding); false, and
    // output empty, once the file is exhausted. Not to be mixed with read().
    bool readUndecoded(std::string& output);
    // Back to the first decoded piece: read() gives the text once more from its start.
    void rewind();

private:
    // The constructor's steps, in order, after openRegularTextFile.
    void settleEncodingFromStart(TextEncoding encoding);
    void countCharacters(const std::atomic<bool>* cancel);
    // The characters of a file of this many bytes in the settled encoding.
    std::uint64_t charactersIn(std::uint64_t bytes, std::uint64_t continuationBytes) const;

    std::size_t readBytes(char* buffer, std::size_t size);
    void rewindAfterMark();

    std::filesystem::path path_;
    UniqueFd file_;
    TextEncoding encoding_;
    FileIdentity identity_;
    std::size_t markLength_ = 0;
    std::uint64_t totalCharacters_ = 0;
    std::optional<TextDecoder> decoder_;
    std::string buffer_;
    bool exhausted_ = false;
    bool undecodedBegun_ = false;
};

// The text file opened for reading, refused unless it is a regular file; identity: the file as
// it was opened. Failures name it as the text file ("cannot open the text file ..."). A file
// already open (file) is checked in place of opening path.
UniqueFd openRegularTextFile(const std::filesystem::path& path, FileIdentity& identity,
                             UniqueFd file = {});

// A text file's own bytes, undecoded, whole: openRegularTextFile, then readWholeFile held to
// limit, whose failures name the text file unless limit.failure words them otherwise; from
// its start, through openFile where the file is already open.
std::string readWholeTextFile(const std::filesystem::path& path, WholeFileLimit limit,
                              UniqueFd openFile = {});

} // namespace kestrova::speech

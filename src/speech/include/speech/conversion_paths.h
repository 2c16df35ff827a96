#pragma once

#include "speech/speech_error.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kestrova::speech {

// Two paths of a conversion that are one file, one of them written: what() names both and
// the file. Found before anything is rendered or created; a command line reports it as bad
// usage.
class PathClash : public FileError {
public:
    using FileError::FileError;
};

// Every path one conversion reads (the text, each lexicon) and writes (the sound or standard
// output, each chapter's file, the side files), each with the role that named it ("-o",
// "--timings", "INPUT"), compared by what they are: the device and inode of a file that
// exists, following links as the writers do; the path with every link and ".." resolved of
// one that does not exist yet; standard output's own file. Two reads of one file are fine;
// a write that lands on any other entry is refused. Character devices (/dev/null) are
// written into as they stand and destroy nothing: they never clash.
class ConversionPaths {
public:
    void addRead(std::string role, std::filesystem::path path);
    void addWritten(std::string role, std::filesystem::path path);
    // The sound goes to standard output, known by what descriptor 1 is open on.
    void addStandardOutput(std::string role);
    // Another conversion's entries, so that a batch is checked as a whole.
    void add(const ConversionPaths& other);

    // Throws PathClash naming the first two entries that are one file, a write among them.
    void check() const;

    // The paths written to files, in the order added.
    std::vector<std::filesystem::path> written() const;

private:
    struct Entry {
        std::string role;
        std::filesystem::path path;
        bool written = false;
        bool standardOutput = false;

        std::string shown() const; // the role, and the path as given
    };
    static std::string clash(const Entry& first, const Entry& second);

    std::vector<Entry> entries_;
};

} // namespace kestrova::speech

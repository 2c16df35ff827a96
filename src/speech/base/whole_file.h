#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// The one way a reader loads a whole file into memory: up to its own limit, stopped by its
// cancel flag, its failures worded one way.
namespace kestrova::speech {

// "16 MiB" for a whole number of MiB, else "1024 bytes".
std::string sizeInWords(std::uint64_t bytes);

// What loading a whole file is held to, and how its failures are told.
struct WholeFileLimit {
    std::uint64_t maxBytes = 0;
    // Looked at before each piece; once set, the load stops with ConversionCancelled.
    const std::atomic<bool>* cancel = nullptr;
    // The message for a reason, naming the file as its reader names it: "cannot use the
    // cover "a.jpg": " + reason.
    std::function<std::string(const std::string& reason)> failure;
    // A reader's own words for a file past maxBytes; empty: "it is larger than " +
    // sizeInWords(maxBytes).
    std::string tooLarge;
};

// The bytes of the open file fd from where it stands to its end. Throws FileError with
// failure(reason): for a file past maxBytes (a regular file by its size, before it is read;
// anything else, a device without end among them, once it has given one byte more), or for a
// failed read; ConversionCancelled with failure("the conversion was cancelled").
std::string readWholeFile(int fd, const WholeFileLimit& limit);

} // namespace kestrova::speech

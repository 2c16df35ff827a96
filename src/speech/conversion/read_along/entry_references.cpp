#include "speech/conversion/read_along/entry_references.h"

#include <cstdio>
#include <filesystem>

namespace kestrova::speech::read_along {
namespace {

bool keptAsItIs(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

std::string percentEncoded(std::string_view path) {
    std::string encoded;
    for (const char c : path) {
        if (keptAsItIs(static_cast<unsigned char>(c))) {
            encoded.push_back(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(c));
            encoded.append(escape);
        }
    }
    return encoded;
}

} // namespace

std::string_view folderOf(std::string_view entry) {
    const std::size_t slash = entry.rfind('/');
    return slash == std::string_view::npos ? std::string_view{} : entry.substr(0, slash + 1);
}

std::string referenceBetween(std::string_view from, std::string_view to) {
    // Entries are names inside the book, never paths on this system: only their parts are
    // compared here.
    const std::filesystem::path folder("/" + std::string(folderOf(from)));
    const std::filesystem::path target("/" + std::string(to));
    return percentEncoded(target.lexically_relative(folder).generic_string());
}

} // namespace kestrova::speech::read_along

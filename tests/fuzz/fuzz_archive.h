#pragma once

// What the fuzz targets of the ZIP-based readers share: the input's rest cut into a document's
// parts at NUL bytes, and the parts written by libzip into an archive in memory (random bytes
// seldom make a ZIP archive that gets far into a reader).

#include "fuzz_check.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include <zip.h>

namespace kestrova::fuzz {

// At most count parts, the last holding whatever is left.
inline std::vector<std::string_view> partsOf(std::string_view rest, std::size_t count) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < count && rest.find('\0') != std::string_view::npos) {
        parts.push_back(rest.substr(0, rest.find('\0')));
        rest.remove_prefix(parts.back().size() + 1);
    }
    parts.push_back(rest);
    return parts;
}

// The entries, in order, as one archive's bytes.
inline std::string archiveOf(const std::vector<std::pair<const char*, std::string_view>>& entries) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    FUZZ_CHECK(buffer != nullptr);
    zip_source_keep(buffer);
    zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    FUZZ_CHECK(archive != nullptr);
    for (const auto& [name, bytes] : entries) {
        zip_source_t* source = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
        FUZZ_CHECK(source != nullptr && zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8) >= 0);
    }
    FUZZ_CHECK(zip_close(archive) == 0);
    zip_stat_t stat;
    FUZZ_CHECK(zip_source_stat(buffer, &stat) == 0 && zip_source_open(buffer) == 0);
    std::string bytes(static_cast<std::size_t>(stat.size), '\0');
    FUZZ_CHECK(zip_source_read(buffer, bytes.data(), bytes.size()) ==
               static_cast<zip_int64_t>(bytes.size()));
    zip_source_close(buffer);
    zip_source_free(buffer);
    zip_error_fini(&error);
    return bytes;
}

} // namespace kestrova::fuzz

#pragma once

// Helpers shared by the tests: a scratch folder per test, whole-file reads and writes, texts
// of a given length, folder snapshots, a strict UTF-8 check and a libsndfile read-back.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sndfile.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace kestrova::test {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with all it holds.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "kestrova-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code error;
        // Tests take permissions away; give them back so that everything can be removed.
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
        for (auto it = fs::recursive_directory_iterator(path_, error);
             it != fs::recursive_directory_iterator(); it.increment(error))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(path_, error);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const fs::path& path() const { return path_; }
    fs::path operator/(const fs::path& name) const { return path_ / name; }

    // The names of the entries in the folder, hidden ones included, sorted.
    std::vector<std::string> names(const fs::path& under = {}) const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(path_ / under))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

private:
    fs::path path_;
};

// Descriptors this process holds open (the one reading /proc/self/fd included).
inline std::size_t openDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

inline void writeBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

inline std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// About the given number of bytes of numbered sentences, whole ones: a text that keeps an
// engine busy for as long as a test needs.
inline std::string sentences(std::size_t bytes) {
    std::string text;
    for (int i = 1; text.size() < bytes; ++i)
        text += "Sentence number " + std::to_string(i) + " keeps the speech engine busy. ";
    return text;
}

// Sentences that stand apart by runs of 1000 spaces, up to bytes: long to read, each a chunk
// of its own, and quick to speak, since the engine passes over the spaces at once.
inline std::string spacedSentences(std::size_t bytes) {
    std::string text;
    for (int i = 1; text.size() < bytes; ++i)
        text += "Sentence number " + std::to_string(i) + " is short." + std::string(1000, ' ');
    return text;
}

// Every entry under a folder: a file's bytes, a link's target, or nothing for a folder.
using Snapshot = std::map<std::string, std::optional<std::string>>;

inline Snapshot snapshot(const fs::path& folder) {
    Snapshot entries;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string name = fs::relative(it->path(), folder).string();
        switch (it->symlink_status().type()) {
        case fs::file_type::directory:
            entries[name] = std::nullopt;
            break;
        case fs::file_type::regular: {
            std::ifstream in(it->path(), std::ios::binary);
            entries[name] =
                in ? std::string(std::istreambuf_iterator<char>(in), {}) : "an unreadable file";
            break;
        }
        case fs::file_type::symlink:
            entries[name] = "a link to " + fs::read_symlink(it->path(), error).string();
            break;
        default:
            entries[name] = "a device or FIFO"; // never opened here
        }
    }
    return entries;
}

// The snapshot without the hidden folders in which an unfinished conversion keeps its
// rendered chunks for the next run (.NAME.kestrova-resume): they are no output.
inline Snapshot withoutResumeFolders(Snapshot entries) {
    std::erase_if(entries, [](const auto& entry) {
        for (const fs::path& part : fs::path(entry.first))
            if (part.string().starts_with(".") && part.string().ends_with(".kestrova-resume"))
                return true;
        return false;
    });
    return entries;
}

// Lines of text, a last one without its line feed counted too.
inline std::size_t lineCount(const std::string& text) {
    std::size_t lines = 0;
    for (const char c : text)
        lines += c == '\n';
    return lines + (!text.empty() && text.back() != '\n');
}

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
inline bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length;
        std::uint32_t code;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
            (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

inline std::uint64_t utf8Characters(std::string_view text) {
    return static_cast<std::uint64_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// Why text is not what the decoder hands on, valid UTF-8 without a control character but the
// line feed; empty if it is.
inline std::string cleanTextFault(std::string_view text) {
    if (!isValidUtf8(text))
        return "not valid UTF-8";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7F)
            return "control byte " + std::to_string(c) + " at " + std::to_string(i);
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0)
            return "C1 control at " + std::to_string(i); // U+0080 to U+009F
    }
    return {};
}

inline bool isCleanText(std::string_view text) {
    return cleanTextFault(text).empty();
}

// The text without the spaces and line feeds a chunker may drop or fold.
inline std::string withoutSpaces(std::string_view text) {
    std::string kept;
    for (const char c : text)
        if (c != ' ' && c != '\n')
            kept.push_back(c);
    return kept;
}

// A sound file read back whole through libsndfile, as 16-bit samples.
struct SoundFile {
    SF_INFO info{};
    std::vector<short> samples; // interleaved

    int majorFormat() const { return info.format & SF_FORMAT_TYPEMASK; }
    int subFormat() const { return info.format & SF_FORMAT_SUBMASK; }
    double seconds() const { return static_cast<double>(info.frames) / info.samplerate; }
    int peak() const {
        int peak = 0;
        for (short sample : samples)
            peak = std::max(peak, std::abs(static_cast<int>(sample)));
        return peak;
    }
};

// What libsndfile says of a sound file's header: rate, channels, format, frames. nullopt
// when it cannot open the file.
inline std::optional<SF_INFO> soundInfo(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return std::nullopt;
    sf_close(file);
    return info;
}

// nullopt when libsndfile cannot open the file.
inline std::optional<SoundFile> readSound(const fs::path& path) {
    SoundFile sound;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sound.info);
    if (file == nullptr)
        return std::nullopt;
    std::vector<short> block(4096 * static_cast<std::size_t>(std::max(1, sound.info.channels)));
    for (;;) {
        const sf_count_t frames = sf_readf_short(file, block.data(), 4096);
        if (frames <= 0)
            break;
        sound.samples.insert(sound.samples.end(), block.begin(),
                             block.begin() + frames * sound.info.channels);
    }
    sf_close(file);
    return sound;
}

// A cue point as libsndfile reads it back (SFC_GET_CUE): its sample and its label.
struct CuePointRead {
    std::uint32_t frame = 0;
    std::string name;
};

// Every cue point of a sound file, in the file's order; none when it has none or cannot be
// opened.
inline std::vector<CuePointRead> readCuePoints(const fs::path& path) {
    std::vector<CuePointRead> points;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return points;
    std::uint32_t count = 0;
    if (sf_command(file, SFC_GET_CUE_COUNT, &count, sizeof count) == SF_TRUE && count > 0) {
        // SF_CUES_VAR(count): the count, then the points.
        const std::size_t pointsAt = offsetof(SF_CUES, cue_points);
        std::vector<char> cues(pointsAt + count * sizeof(SF_CUE_POINT));
        if (sf_command(file, SFC_GET_CUE, cues.data(), static_cast<int>(cues.size())) == SF_TRUE) {
            std::memcpy(&count, cues.data(), sizeof count);
            for (std::uint32_t i = 0; i < count; ++i) {
                SF_CUE_POINT point;
                std::memcpy(&point, cues.data() + pointsAt + i * sizeof point, sizeof point);
                points.push_back({point.sample_offset,
                                  std::string(point.name, strnlen(point.name, sizeof point.name))});
            }
        }
    }
    sf_close(file);
    return points;
}

// The hidden temporary files a conversion writes beside its target.
inline std::vector<std::string> leftoverParts(const fs::path& folder) {
    std::vector<std::string> parts;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(".") && name.ends_with(".part"))
            parts.push_back(name);
    }
    return parts;
}

// The output a process is still writing in a folder, before it has its name: an unnamed file
// (in /proc: "FOLDER/#INODE (deleted)") or a hidden temporary one. Its size so far, or
// nullopt while the process has none open there.
inline std::optional<std::uintmax_t> unfinishedOutput(pid_t pid, const fs::path& folder) {
    std::error_code error;
    const std::string prefix = fs::weakly_canonical(folder, error).string() + "/";
    for (const auto& entry :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code unreadable;
        const std::string target = fs::read_symlink(entry.path(), unreadable).string();
        if (unreadable || !target.starts_with(prefix))
            continue;
        const std::string name = target.substr(prefix.size());
        if ((name.starts_with("#") && name.ends_with(" (deleted)")) ||
            (name.starts_with(".") && name.ends_with(".part"))) {
            struct stat status {};
            if (::stat(entry.path().c_str(), &status) == 0)
                return static_cast<std::uintmax_t>(status.st_size);
        }
    }
    return std::nullopt;
}

inline bool runningAsRoot() {
    return ::geteuid() == 0;
}

} // namespace kestrova::test

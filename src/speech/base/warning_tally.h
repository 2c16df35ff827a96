#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>

namespace kestrova::speech {

// Warnings of one kind, as a document may repeat them thousands of times: the first few are
// passed on, the rest only counted, so that the caller can end with one line saying how many
// more there were.
class WarningTally {
public:
    using Warning = std::function<void(const std::string&)>;

    explicit WarningTally(Warning warning, std::size_t told = 5)
        : warning_(std::move(warning)), told_(told) {}

    // Passed on while fewer than told have been, else counted.
    void tell(const std::string& line);
    // Whether anyone listens: a caller can spare itself the wording of a line otherwise.
    bool listened() const { return static_cast<bool>(warning_); }
    // The warnings counted but not passed on.
    std::size_t untold() const { return seen_ > told_ ? seen_ - told_ : 0; }
    // Passes on "<prefix>N more <what>" when some were not told, and starts counting anew.
    void tellUntold(const std::string& prefix, const std::string& what);

private:
    Warning warning_;
    std::size_t told_;
    std::size_t seen_ = 0;
};

} // namespace kestrova::speech

#include "speech/base/warning_tally.h"

namespace kestrova::speech {

void WarningTally::tell(const std::string& line) {
    if (warning_ && ++seen_ <= told_)
        warning_(line);
}

void WarningTally::tellUntold(const std::string& prefix, const std::string& what) {
    if (const std::size_t rest = untold(); rest > 0)
        warning_(prefix + std::to_string(rest) + " more " + what);
    seen_ = 0;
}

} // namespace kestrova::speech

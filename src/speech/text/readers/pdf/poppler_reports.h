#pragma once

#include <cstddef>
#include <string>

// poppler writes what it finds wrong in a file to standard error unless told otherwise, through
// one process-wide function. While a PopplerReports lives its reports come to it instead, so
// that the reader words them as its own failure or warning; after, they are dropped.
namespace kestrova::speech {

class PopplerReports {
public:
    PopplerReports();
    ~PopplerReports();
    PopplerReports(const PopplerReports&) = delete;
    PopplerReports& operator=(const PopplerReports&) = delete;

    std::size_t count() const { return count_; }
    // The first report, one line without poppler's prefix; empty: none came.
    const std::string& first() const { return first_; }

private:
    static void receive(const std::string& report, void* reports);

    std::size_t count_ = 0;
    std::string first_;
};

} // namespace kestrova::speech

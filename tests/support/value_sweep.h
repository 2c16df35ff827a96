// The values a slow sweep runs over: all of them in the plain build, the first alone where
// KESTROVA_SWEEP_REPRESENTATIVES is set (the sanitized build, where each conversion runs several
// times slower). Each value's own behaviour is checked by the plain build; the sanitized run
// looks for bad memory and undefined behaviour, which one pass through the same code shows.
#pragma once

#include <gtest/gtest.h>
#include <initializer_list>
#include <iterator>
#include <vector>

#ifndef KESTROVA_SWEEP_REPRESENTATIVES
#define KESTROVA_SWEEP_REPRESENTATIVES 0
#endif

namespace kestrova::test {

inline constexpr bool sweepRepresentativesOnly = KESTROVA_SWEEP_REPRESENTATIVES != 0;

// In place of ::testing::Values for a parameterised suite.
template <typename First, typename... Rest> auto sweep(First first, [[maybe_unused]] Rest... rest) {
    if constexpr (sweepRepresentativesOnly)
        return ::testing::Values(first);
    else
        return ::testing::Values(first, rest...);
}

// The values of a loop inside one test, or of ::testing::ValuesIn.
template <typename Iterator> auto sweptValues(Iterator begin, Iterator end) {
    std::vector<typename std::iterator_traits<Iterator>::value_type> values(begin, end);
    if (sweepRepresentativesOnly && values.size() > 1)
        values.erase(values.begin() + 1, values.end());
    return values;
}

template <typename Container> auto sweptValues(const Container& all) {
    return sweptValues(std::begin(all), std::end(all));
}

template <typename Value> std::vector<Value> sweptValues(std::initializer_list<Value> all) {
    return sweptValues(all.begin(), all.end());
}

// In place of ::testing::ValuesIn.
template <typename... Arguments> auto sweepIn(const Arguments&... arguments) {
    return ::testing::ValuesIn(sweptValues(arguments...));
}

} // namespace kestrova::test

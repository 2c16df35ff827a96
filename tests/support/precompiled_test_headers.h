// The headers nearly every test file includes, parsed once for each test program rather than
// once for each file (GoogleTest and <regex> are most of a small test file's compile time).
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

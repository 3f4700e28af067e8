// The 0.25-degree global sample two benchmarks share: t, r, u, v and gh on
// 26 pressure levels, 1440 x 721 points, 16-bit simple packing, and the
// table rows that convert it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace bench {

constexpr int kGlobalFields = 5 * 26;

// Encodes each field of the sample in file order, as member `member` (-1:
// none), and gives it to `each` with whether it is the file's first. A
// field that cannot be encoded ends the benchmark.
void forEachGlobalField(long member, const std::function<void(const std::string& message, bool first)>& each);

// The row of name `n` (0: t, then r, u, v, gh) on `levels` ("850;700"), and
// the five rows on every level of the sample.
std::string globalRow(size_t n, const std::string& levels);
std::vector<std::string> globalRows();

}  // namespace bench

// Thinning a long record for a screen: the lowest and highest sample of each
// stretch of positions, so that its shape survives (the plot, watch and the
// page of ru3 serve draw long records so). Positions without a sample (NaN)
// are left out.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace ru3cli {

struct Extent {
  double lo = 0, hi = 0;
  bool any = false;  // false: the stretch holds no sample, lo and hi are 0
};

// The lowest and highest sample of volts[first, last).
Extent ExtentOf(const std::vector<double>& volts, std::size_t first, std::size_t last);

// The positions [first, last) of column `column` when `n` positions are
// spread over `columns` columns; every column has at least one.
std::pair<std::size_t, std::size_t> ColumnSpan(std::size_t n, std::size_t column, std::size_t columns);

}  // namespace ru3cli

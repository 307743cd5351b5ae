#include "thin.h"

#include <algorithm>
#include <cmath>

namespace ru3cli {

Extent ExtentOf(const std::vector<double>& volts, std::size_t first, std::size_t last) {
  Extent e;
  for (std::size_t i = first; i < last; ++i) {
    const double v = volts[i];
    if (std::isnan(v)) continue;
    e.lo = e.any ? std::min(e.lo, v) : v;
    e.hi = e.any ? std::max(e.hi, v) : v;
    e.any = true;
  }
  return e;
}

std::pair<std::size_t, std::size_t> ColumnSpan(std::size_t n, std::size_t column, std::size_t columns) {
  const std::size_t first = n * column / columns;
  return {first, std::min(n, std::max(first + 1, n * (column + 1) / columns))};
}

}  // namespace ru3cli

#include "format.h"

#include <cmath>
#include <cstdio>

namespace ru3cli {

std::string Decimal(double value, int digits) {
  if (std::isnan(value)) return "nan";
  if (value == 0) return "0";  // also -0
  char buffer[64];
  const double magnitude = std::fabs(value);
  if (magnitude >= 1e-4 && magnitude < 1e9) {
    // As many decimals as the significant digits need, then trailing zeros off.
    const int whole = static_cast<int>(std::floor(std::log10(magnitude))) + 1;
    const int decimals = digits > whole ? digits - whole : 0;
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string text = buffer;
    if (text.find('.') != std::string::npos) {
      text.erase(text.find_last_not_of('0') + 1);
      if (text.back() == '.') text.pop_back();
    }
    return text == "-0" ? "0" : text;
  }
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
  return buffer;
}

std::string Quantity(double value, const char* unit, int digits) { return Decimal(value, digits) + " " + unit; }

std::string Engineering(double value, const char* unit) {
  const double a = std::fabs(value);
  if (a != 0 && a < 1e-3) return Decimal(value * 1e6, 4) + " u" + unit;
  if (a != 0 && a < 1) return Decimal(value * 1e3, 4) + " m" + unit;
  if (a >= 1e6) return Decimal(value / 1e6, 4) + " M" + unit;
  if (a >= 1e3) return Decimal(value / 1e3, 4) + " k" + unit;
  return Decimal(value, 4) + " " + unit;
}

std::string RateText(double hertz) {
  if (std::fabs(hertz) >= 1e6) return Decimal(hertz / 1e6) + " MHz";
  if (std::fabs(hertz) >= 1e3) return Decimal(hertz / 1e3) + " kHz";
  return Decimal(hertz) + " Hz";
}

std::string Count(long n, const char* noun) { return std::to_string(n) + " " + noun + (n == 1 ? "" : "s"); }

}  // namespace ru3cli

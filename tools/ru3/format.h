// Numbers as the tool prints them to people: in the fewest digits that say
// them (no 33333.333333333336, no 1000000.000000), plainly or with an SI
// prefix. Files that other programs read use ExactNumber (csv.h) instead.
#pragma once

#include <string>

namespace ru3cli {

// Up to `digits` significant digits, trailing zeros dropped, plain decimals
// from 1e-4 to below 1e9: 100000, 33333.33, 0.0625, -1.00098.
std::string Decimal(double value, int digits = 7);

// With a unit: "2.5 V", "100000 Hz".
std::string Quantity(double value, const char* unit, int digits = 7);

// With an SI prefix and four significant digits: "1 kHz", "250 mV", "10 us".
std::string Engineering(double value, const char* unit);

// A sample rate as people read it, one way everywhere: "100 kHz",
// "30.76923 kHz", "6.1 Hz" (up to seven significant digits).
std::string RateText(double hertz);

// A count with its noun: "1 sample", "512 samples".
std::string Count(long n, const char* noun);

}  // namespace ru3cli

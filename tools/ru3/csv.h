// The CSV form of a record: a header line naming the columns with their
// units, the sample rate and each channel's range (and the marks of a forced
// trigger and of clipping), then one line per sample:
// time in seconds (0 at the trigger), then volts per channel; a position
// that received no sample has an empty field.
#pragma once

#include <cstdio>
#include <string>

#include "record.h"

namespace ru3cli {

// Writes `record`; throws Failure naming `name` when the stream fails.
void WriteCsv(std::FILE* out, const Record& record, const std::string& name);

// One field, quoted when it holds a separator, a quote or a line break.
std::string CsvField(const std::string& text);

// The shortest decimal text that reads back as exactly `value`; empty for
// NaN (a position without a sample).
std::string ExactNumber(double value);

}  // namespace ru3cli

// Files of a record that other tools open: a sigrok session file (.sr, a
// zip archive that sigrok-cli and PulseView read) with each channel as an
// analog channel in volts, and a WAV file (one audio channel per input, full
// scale = the channel's range) for audio tools. Both are built in memory, so
// that any writer (a file, a network reply) can take them.
#pragma once

#include <string>

#include "record.h"

namespace ru3cli {

enum class RecordFormat { kCsv, kSigrok, kWav };

// The format a file name asks for: ".sr" and ".wav" (any case), CSV for
// anything else.
RecordFormat RecordFormatOf(const std::string& path);

// The bytes of a sigrok session file of `record`. Throws Failure.
std::string SigrokSession(const Record& record);

// The bytes of a WAV file of `record`: 16-bit samples, a sample code per
// sample, the sample rate rounded to whole hertz, the ranges in its comment.
// Throws Failure.
std::string WavFile(const Record& record);

}  // namespace ru3cli

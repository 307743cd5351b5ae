// The oscilloscope picture of a record, drawn with cairo into a PNG or SVG
// file: a grid on 1-2-5 ticks, one trace per channel in its own
// colour, each channel's volts on its own axis (its range spans the screen),
// time axis with units, the trigger position and level marked.
#pragma once

#include <string>

#include "output_file.h"
#include "record.h"

namespace ru3cli {

enum class PlotFormat { kPng, kSvg };

// The format a file name asks for (".png" or ".svg", any case); throws a
// usage Failure for anything else.
PlotFormat PlotFormatOf(const std::string& path);

struct PlotSize {
  int width = 1000;
  int height = 600;
};

// Draws `record` into `file` (not committed). Throws Failure.
void DrawPlot(const Record& record, PlotFormat format, PlotSize size, OutputFile& file);

}  // namespace ru3cli

// `ru3 capture`: measure once or --count times, and save each record (CSV,
// sigrok session or WAV, by the file name) with its plot, or their mean.
#pragma once

#include <string>
#include <vector>

#include "acquisition.h"
#include "session.h"

namespace CLI {
class App;
}

namespace ru3cli {

struct CaptureOptions {
  AcquisitionOptions acquisition;
  std::vector<std::string> outputs;  // -o, once per file; none: CSV on standard output
  std::string plot;
  std::string size;
  std::string count;
  bool average = false;
  bool quiet = false;
  bool progress = false;
};

// Adds the command and its options to `app`.
CLI::App* AddCaptureCommand(CLI::App& app, CaptureOptions& options);

int RunCapture(const GlobalOptions& global, const CaptureOptions& options);

}  // namespace ru3cli

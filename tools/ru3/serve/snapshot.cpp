// The tool's plot writes files (through OutputFile, which commits by
// renaming), so the picture is drawn into a private temporary directory and
// read back.
#include "snapshot.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "../failure.h"
#include "../output_file.h"

namespace ru3serve {

std::string PlotPng(const Frame& frame, ru3cli::PlotSize size) {
  char dir[] = "/tmp/ru3-serve-XXXXXX";
  if (!::mkdtemp(dir)) throw ru3cli::Failure("no temporary directory for the plot");
  const std::string path = std::string(dir) + "/plot.png";
  std::string png;
  try {
    ru3cli::OutputFile file(path);
    ru3cli::DrawPlot(frame.ToRecord(), ru3cli::PlotFormat::kPng, size, file);
    file.Commit();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    png = bytes.str();
  } catch (...) {
    ::unlink(path.c_str());
    ::rmdir(dir);
    throw;
  }
  ::unlink(path.c_str());
  ::rmdir(dir);
  if (png.empty()) throw ru3cli::Failure("the plot came out empty");
  return png;
}

}  // namespace ru3serve

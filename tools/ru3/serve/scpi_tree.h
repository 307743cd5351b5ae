// The SCPI command tree of `ru3 serve` as data: each command's header
// pattern (long form, its short form in capitals, '#' for a numeric suffix),
// whether it may be set and queried, and its handler.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "scpi.h"

namespace ru3serve {

struct ScpiCall {
  bool query = false;
  std::vector<int> suffix;  // the numeric suffixes of the header, in order (1 when left out)
  std::vector<Param> params;
};

// Returns the response of a query (ignored for a set); pushes errors onto
// the session.
using ScpiHandler = std::function<std::string(ScpiSession&, const ScpiCall&)>;

struct ScpiCommand {
  const char* pattern;  // e.g. "CHANnel#:RANGe" or "*IDN"
  bool settable;
  bool queryable;
  int params_min, params_max;  // for the set form; queries take 0..params_max
  ScpiHandler handler;
  Quantity unit = Quantity::kNone;  // of its numbers: which suffixes fit
};

const std::vector<ScpiCommand>& ScpiCommands();

}  // namespace ru3serve

// The tool's use of the driver library: the simulator choice for this run,
// opening and closing the instrument, status codes as text, and the reasons
// an instrument was not found.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace ru3cli {

struct GlobalOptions {
  std::optional<std::string> simulate;  // --simulate[=CONFIG]: the simulator's configuration
  int unit = 0;                         // --unit N: 1..4, 0 = leave the library's choice
};

// Puts --simulate into the environment (RU3_SIMULATOR), which the library
// reads when the instrument is opened.
void ApplySimulate(const GlobalOptions& options);

// The status code's name and meaning, e.g. "32 (bad value)".
std::string StatusText(std::uint16_t status);

// Throws Failure naming `what` unless `status` is 0.
void Check(std::uint16_t status, const std::string& what);

// Where the library found the instrument, as far as the tool can tell.
struct Location {
  std::optional<std::uint16_t> base;  // base address of the printer port
  std::string port;                   // "LPT1".."LPT3", empty when unknown
  bool simulated = false;
};

// The open instrument: InitInstrument on construction, ExitInstrument on
// destruction. Selects --unit when given.
class Session {
 public:
  // Throws Failure (exit status kExitNoInstrument) with the reason when no
  // instrument is found. With `locate`, traces the opening to learn the port.
  // With `measures`, the unit chosen by --unit must show that it
  // measures (UnitAnswers): else Failure (kExitNoInstrument). The DAC and
  // motor commands pass false: those outputs give nothing back to check.
  explicit Session(const GlobalOptions& options, bool locate = false, bool measures = true);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Closes the instrument now (idempotent). When locating, location() is
  // known from then on.
  void Close() noexcept;

  const Location& location() const { return location_; }
  // The kernel devices registered on parport0..2 while the instrument was
  // open (empty under the simulator).
  const std::vector<std::vector<std::string>>& registered() const { return registered_; }

 private:
  bool open_ = false;
  Location location_;
  std::vector<std::vector<std::string>> registered_;
  std::string trace_path_;  // the trace to decode at Close, when locating
  std::uintmax_t trace_offset_ = 0;
  std::string own_trace_;  // a temporary trace this session removes
};

// Whether the selected unit answers: a short free-running record armed on it
// shows the busy status first and then the record complete. A unit that does
// not hang on the port leaves the status lines floating (busy for ever), one
// without a sample memory reads the same status whatever is armed (never
// busy): either way its status never changes. The settings are restored.
bool UnitAnswers();

// "LPTn" for a base address, from the simulator's configuration or the
// system's printer-port list; empty when unknown.
std::string PortNameOf(std::uint16_t base, bool simulated);

// Why no instrument was found, from what the environment and the trace of a
// failed opening show.
std::string NoInstrumentReason(const std::string& trace_path);

}  // namespace ru3cli

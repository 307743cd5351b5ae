// Decoding of a port trace (the file RU3_PORT_TRACE writes: "O 0378 F7" for an
// output, "I 0379 50" for an input) into what the driver did to the
// instrument: register writes and reads, counter loads, EEPROM transactions,
// converter, relay, trim and DAC words, sample-clock programming, arming and
// sample reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace ru3cli::trace {

struct PortAccess {
  std::size_t line = 0;  // 1-based line in the trace file
  bool output = false;   // "O" (write) or "I" (read)
  std::uint16_t port = 0;
  std::uint8_t value = 0;
};

// Reads a whole trace. Blank lines and lines starting with '#' are skipped;
// any other line that is not "O|I PORT VALUE" (hex) throws a Failure naming
// `name` and the line number.
std::vector<PortAccess> Parse(std::istream& in, const std::string& name);

struct Event {
  std::size_t line = 0;    // trace line where the decoded action starts
  std::uint16_t base = 0;  // printer-port base address it happened on (0: none)
  std::string text;
  bool detail = false;  // register-level detail, shown only on request
};

// What happened on one printer port.
struct PortSummary {
  std::uint16_t base = 0;
  std::size_t accesses = 0;
  std::optional<std::uint8_t> signature;  // EEPROM byte 1 as read during identification
  std::size_t identified_line = 0;        // where the signature 0xAA was read (0: never)
  std::optional<std::uint8_t> variant;    // EEPROM byte 5
  std::size_t register_writes = 0;
  std::size_t register_reads = 0;
  std::size_t samples = 0;
};

struct Decoded {
  std::vector<Event> events;  // in trace order
  std::vector<PortSummary> ports;
  std::size_t unattributed = 0;  // accesses to ports that belong to no printer port seen
};

struct DecodeOptions {
  bool samples = false;  // list every sample code as a detail event
};

Decoded Decode(const std::vector<PortAccess>& accesses, const DecodeOptions& options = {});

// The base address where the instrument answered (signature 0xAA), the last
// such port when several did; nullopt when none did.
std::optional<std::uint16_t> AnsweringPort(const Decoded& decoded);

// Prints the events, one per line ("LINE  BASE  text"), with runs of identical
// consecutive events folded into one line with a count; `details` adds the
// register-level events. Ends with a per-port summary.
void Print(std::ostream& out, const Decoded& decoded, bool details);

}  // namespace ru3cli::trace

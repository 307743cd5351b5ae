// Port-trace decoder. Three layers, as the driver builds its traffic:
//  1. per printer port, the link: data-port bytes with address (control 0x0C)
//     and data (control 0x06) strobes are register writes; a write of
//     register 15 followed by status reads is a register read (high nibble
//     while data bit 7 is set, low nibble while it is clear) or, for the
//     sample lane (15 := 3), a run of sample reads, three status reads each;
//  2. serial protocols carried by single register writes: counter loads
//     (register 5 bit address and data, strobe registers 2/3/4), the EEPROM's
//     two-wire bus (register 6, data line in bit 4 of register 2), converter
//     words (registers 5/8/12), the relay byte (register 5 bits 2 and 3), trim
//     converters and the auxiliary DAC (register 9 selects, register 5 bits);
//  3. sequences of plain register writes that form one action: sample-clock
//     programming, arming, read-address reset, seek and sample read-out.
#include "trace.h"

#include <array>
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <set>

#include "../failure.h"
#include "decoder.h"
#include "link.h"

namespace ru3cli::trace {

namespace {

using internal::Hex;
using internal::InstrumentDecoder;
using internal::LinkDecoder;
using internal::LinkItem;

// Printer ports the driver may use when the trace itself does not show which
// port an output belongs to.
constexpr std::array<std::uint16_t, 3> kUsualBases = {0x378, 0x278, 0x3BC};

}  // namespace

std::vector<PortAccess> Parse(std::istream& in, const std::string& name) {
  std::vector<PortAccess> accesses;
  std::string text;
  std::size_t line = 0;
  while (std::getline(in, text)) {
    ++line;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos || text[first] == '#') continue;
    char kind = 0;
    unsigned port = 0;
    unsigned value = 0;
    char rest = 0;
    int port_end = 0;
    int value_start = 0;
    int value_end = 0;
    const int fields = std::sscanf(text.c_str(), " %c %x%n %n%x%n %c", &kind, &port, &port_end, &value_start, &value,
                                   &value_end, &rest);
    const bool ok = fields == 3 && (kind == 'O' || kind == 'I') && port <= 0xFFFF && value <= 0xFF &&
                    value_end - value_start <= 2 && value_start > port_end;
    if (!ok) {
      throw Failure(name + ":" + std::to_string(line) +
                        ": not a port-trace line (expected \"O 0378 F7\" or \"I 0379 50\"): " + text.substr(0, 60),
                    kExitUsage);
    }
    accesses.push_back(
        PortAccess{line, kind == 'O', static_cast<std::uint16_t>(port), static_cast<std::uint8_t>(value)});
  }
  if (in.bad()) throw Failure(name + ": read error", kExitFailure);
  return accesses;
}

Decoded Decode(const std::vector<PortAccess>& accesses, const DecodeOptions& options) {
  Decoded decoded;
  // Every register read ends in status-port reads, so a port that was read
  // while the port below it was written is a status port (base = port - 1).
  std::set<std::uint16_t> written;
  for (const PortAccess& a : accesses) {
    if (a.output) written.insert(a.port);
  }
  std::set<std::uint16_t> bases;
  for (const PortAccess& a : accesses) {
    if (!a.output && a.port >= 1 && written.count(static_cast<std::uint16_t>(a.port - 1)) != 0) {
      bases.insert(static_cast<std::uint16_t>(a.port - 1));
    }
  }
  auto base_of = [&](const PortAccess& a) -> std::optional<std::uint16_t> {
    for (std::uint16_t base : bases) {
      if (a.port >= base && a.port <= base + 2) return base;
    }
    for (std::uint16_t base : kUsualBases) {
      if (a.port >= base && a.port <= base + 2) return base;
    }
    return std::nullopt;
  };

  struct Port {
    PortSummary summary;
    std::unique_ptr<InstrumentDecoder> instrument;
    std::unique_ptr<LinkDecoder> link;
  };
  std::map<std::uint16_t, std::unique_ptr<Port>> ports;
  std::vector<Event> events;
  for (const PortAccess& a : accesses) {
    const std::optional<std::uint16_t> base = base_of(a);
    if (!base) {
      ++decoded.unattributed;
      events.push_back(Event{a.line, 0,
                             std::string(a.output ? "write " : "read ") + Hex(a.value, 2) +
                                 (a.output ? " to" : " from") + " port " + Hex(a.port, 4) + " (no printer port there)",
                             false});
      continue;
    }
    auto& slot = ports[*base];
    if (!slot) {
      slot = std::make_unique<Port>();
      slot->summary.base = *base;
      Port* port = slot.get();
      port->instrument = std::make_unique<InstrumentDecoder>(*base, events, port->summary, options);
      port->link = std::make_unique<LinkDecoder>([port](LinkItem item) { port->instrument->Take(item); });
    }
    ++slot->summary.accesses;
    const int offset = a.port - *base;
    if (offset == 0 && a.output) {
      slot->link->Data(a.line, a.value);
    } else if (offset == 2 && a.output) {
      slot->link->Control(a.line, a.value);
    } else if (offset == 1 && !a.output) {
      slot->link->Status(a.line, a.value);
    } else if (offset == 0 && !a.output) {
      // Port discovery writes a pattern to the data port and reads it back.
      events.push_back(Event{a.line, *base, "printer-port probe: the data port reads back " + Hex(a.value, 2), false});
    } else {
      events.push_back(Event{a.line, *base,
                             std::string(a.output ? "write " : "read ") + Hex(a.value, 2) +
                                 (a.output ? " to " : " from ") +
                                 (offset == 0   ? "data"
                                  : offset == 1 ? "status"
                                                : "control") +
                                 " port (not used so)",
                             false});
    }
  }
  for (auto& [base, port] : ports) {
    port->link->Finish();
    port->instrument->Finish();
    decoded.ports.push_back(port->summary);
  }
  std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.line < b.line; });
  decoded.events = std::move(events);
  return decoded;
}

std::optional<std::uint16_t> AnsweringPort(const Decoded& decoded) {
  std::optional<std::uint16_t> found;
  std::size_t found_line = 0;
  for (const PortSummary& p : decoded.ports) {
    if (p.identified_line > found_line) {
      found = p.base;
      found_line = p.identified_line;
    }
  }
  return found;
}

void Print(std::ostream& out, const Decoded& decoded, bool details) {
  std::vector<const Event*> shown;
  for (const Event& e : decoded.events) {
    if (details || !e.detail) shown.push_back(&e);
  }
  char prefix[32];
  for (std::size_t i = 0; i < shown.size();) {
    std::size_t j = i + 1;
    while (j < shown.size() && shown[j]->text == shown[i]->text && shown[j]->base == shown[i]->base) ++j;
    const Event& e = *shown[i];
    std::snprintf(prefix, sizeof prefix, "%8zu  %s  ", e.line, e.base == 0 ? "----" : Hex(e.base, 4).c_str());
    out << prefix << (e.detail ? "  " : "") << e.text;
    if (j - i > 1) out << "  (x" << (j - i) << ", to line " << shown[j - 1]->line << ")";
    out << '\n';
    i = j;
  }
  out << "-- " << decoded.ports.size() << (decoded.ports.size() == 1 ? " printer port" : " printer ports") << '\n';
  for (const PortSummary& p : decoded.ports) {
    out << "port " << Hex(p.base, 4) << ": " << p.accesses << " accesses, " << p.register_writes << " register writes, "
        << p.register_reads << " register reads, " << p.samples << " samples";
    if (p.signature) {
      out << "; signature " << Hex(*p.signature, 2) << (*p.signature == 0xAA ? " (instrument)" : " (no instrument)");
    }
    if (p.variant) out << ", variant " << Hex(*p.variant, 2);
    out << '\n';
  }
  if (decoded.unattributed > 0) {
    out << decoded.unattributed << " accesses to ports that belong to no printer port\n";
  }
}

}  // namespace ru3cli::trace

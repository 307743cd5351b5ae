// The waveform part of the SCPI tree: which channel and format a transfer
// takes, which part of the record (:STARt to :STOP, 1-based), its preamble
// and data (WORD and BYTE as definite-length blocks, ASCii as bare
// comma-separated volts), the record length as :WAVeform:POINts, and the
// tool's plot of the record as a PNG block (:DISPlay:DATA?).
#include <algorithm>
#include <cmath>

#include "scpi_common.h"
#include "snapshot.h"

namespace ru3serve {
namespace {

std::string Block(const std::string& body) {
  const std::string length = std::to_string(body.size());
  return "#" + std::to_string(length.size()) + length + body;
}

// Positions [from, to) of the session's part of a record of n samples.
struct Part {
  std::size_t from, to;
};
Part PartOf(const ScpiSession& s, std::size_t n) {
  const std::size_t to = s.last == 0 ? n : std::min(s.last, n);
  return {std::min(s.first - 1, to), to};
}

std::string Preamble(ScpiSession& s) {
  const auto frame = DataFrame(s);
  if (!frame) return "";
  const Frame::Trace* trace = SourceTrace(s, *frame, s.source);
  if (!trace) return "";
  const Part part = PartOf(s, trace->codes.size());
  const int format = s.format == "BYTE" ? 0 : s.format == "WORD" ? 1 : 4;
  double increment = 1, reference = 0;
  if (format == 0) increment = trace->range / 128, reference = 128;
  if (format == 1) increment = trace->range / 32768, reference = 32768;
  const double xincrement = 1 / frame->rate;
  const double xorigin = (static_cast<double>(part.from) - static_cast<double>(frame->pre_samples)) * xincrement;
  const int type = frame->averaged > 1 ? 2 : 0;  // 0 normal, 2 average
  return std::to_string(format) + "," + std::to_string(type) + "," + std::to_string(part.to - part.from) + "," +
         std::to_string(frame->averaged) + "," + Num(xincrement) + "," + Num(xorigin) + ",0," + Num(increment) + ",0," +
         Num(reference);
}

std::string Data(ScpiSession& s) {
  const auto frame = DataFrame(s);
  if (!frame) return "";
  const Frame::Trace* trace = SourceTrace(s, *frame, s.source);
  if (!trace) return "";
  const Part part = PartOf(s, trace->codes.size());
  std::string body;
  if (s.format == "ASC") {
    for (std::size_t i = part.from; i < part.to; ++i) body += (i == part.from ? "" : ",") + Num(trace->volts[i]);
    return body;
  }
  const bool word = s.format == "WORD";
  body.reserve((part.to - part.from) * (word ? 2 : 1));
  for (std::size_t i = part.from; i < part.to; ++i) {
    const std::uint16_t code = trace->codes[i];
    if (!word) {
      body += static_cast<char>(code >> 8);
    } else if (s.big_endian) {
      body += static_cast<char>(code >> 8);
      body += static_cast<char>(code & 0xFF);
    } else {
      body += static_cast<char>(code & 0xFF);
      body += static_cast<char>(code >> 8);
    }
  }
  return Block(body);
}

// :WAVeform:STARt / :STOP: a position of the record, 1 to the longest record.
ScpiHandler PartEnd(std::size_t ScpiSession::*field, bool stop) {
  return [field, stop](ScpiSession& s, const ScpiCall& call) -> std::string {
    const long longest = s.engine().MaxLength();
    if (call.query) {
      const std::size_t value = s.*field;
      return std::to_string(value == 0 ? static_cast<std::size_t>(s.engine().Current().length) : value);
    }
    const Param& p = call.params[0];
    if (!p.numeric || p.number != std::floor(p.number)) {
      s.Push(-104, "a whole number of samples");
    } else if (p.number < 1 || p.number > static_cast<double>(longest)) {
      s.Push(-222, "positions 1 to " + std::to_string(longest));
    } else {
      s.*field = static_cast<std::size_t>(p.number);
      if (!stop && s.last != 0 && s.last < s.first) s.last = s.first;
      if (stop && s.first > s.last) s.first = s.last;
    }
    return "";
  };
}

}  // namespace

void AddWaveform(CommandList& add) {
  add("WAVeform:SOURce", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) return "CHAN" + std::to_string(s.source);
    const int channel = ChannelParam(call.params[0]);
    if (channel == 0)
      s.Push(-224, "CHANnel1 or CHANnel2");
    else
      s.source = channel;
    return std::string();
  });
  add("WAVeform:FORMat", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) return s.format;
    const Param& p = call.params[0];
    if (IsWord(p, "BYTE", "BYTE"))
      s.format = "BYTE";
    else if (IsWord(p, "WORD", "WORD"))
      s.format = "WORD";
    else if (IsWord(p, "ASC", "ASCII"))
      s.format = "ASC";
    else
      s.Push(-224, "BYTE, WORD or ASCii");
    return std::string();
  });
  add("WAVeform:BYTeorder", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) return std::string(s.big_endian ? "MSBF" : "LSBF");
    const Param& p = call.params[0];
    if (IsWord(p, "MSBF", "MSBFIRST"))
      s.big_endian = true;
    else if (IsWord(p, "LSBF", "LSBFIRST"))
      s.big_endian = false;
    else
      s.Push(-224, "MSBFirst or LSBFirst");
    return std::string();
  });
  // The record length: set, as :ACQuire:POINts; the query gives the samples of the record.
  add("WAVeform:POINts", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (!call.query) {
      Set(s, "length", ValueOf(call.params[0]));
      return std::string();
    }
    const auto frame = DataFrame(s);
    const Frame::Trace* trace = frame ? SourceTrace(s, *frame, s.source) : nullptr;
    return trace ? std::to_string(trace->codes.size()) : std::string();
  });
  add("WAVeform:STARt", true, true, 1, 1, PartEnd(&ScpiSession::first, false));
  add("WAVeform:STOP", true, true, 1, 1, PartEnd(&ScpiSession::last, true));
  add("WAVeform:PREamble", false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) { return Preamble(s); });
  add("WAVeform:DATA", false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) { return Data(s); });
  // The tool's plot of the record, 1000 x 600 pixels.
  add("DISPlay:DATA", false, true, 0, 1, [](ScpiSession& s, const ScpiCall& call) -> std::string {
    if (!call.params.empty() && !IsWord(call.params[0], "PNG", "PNG")) {
      s.Push(-224, "PNG");
      return "";
    }
    const auto frame = DataFrame(s);
    if (!frame) return "";
    try {
      return Block(PlotPng(*frame));
    } catch (const std::exception& e) {
      s.Push(-200, e.what());
      return "";
    }
  });
}

}  // namespace ru3serve

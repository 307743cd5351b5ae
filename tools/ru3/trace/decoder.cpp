// The sequence layer of the port-trace decoder: register writes and reads in,
// decoded actions out (sample clock, arming, seeks, sample read-out).
#include "decoder.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>

#include "../failure.h"

namespace ru3cli::trace::internal {

int PrescalerOf(int code) {
  static constexpr std::array<int, 8> kPrescalers = {1, 2, 4, 8, 16, 32, 64, 1024};
  return kPrescalers[static_cast<std::size_t>(code & 7)];
}

// Samples counted by counter 4 when loaded with w: w = 2 x (32768 - n) - 1.
long PostCount(int w) { return 32768L - (static_cast<long>(w) + 1) / 2; }

std::string TriggerSourceName(int value) {
  switch (value) {
    case 0:
      return "channel 1";
    case 1:
      return "channel 2";
    case 2:
      return "external input";
    case 3:
      return "none: free-running, or force trigger";
    case 7:
      return "never";
    default:
      return "code " + std::to_string(value);
  }
}

std::string TriggerKindName(int value) {
  switch (value) {
    case 4:
      return "kind 0";
    case 5:
      return "kind 3";
    case 2:
      return "kind 1 or 2";
    default:
      return "code " + std::to_string(value);
  }
}

std::string StatusText(int value) {
  std::string text = "status " + Hex(static_cast<unsigned>(value), 2) + ": ";
  text += (value & 0x80) != 0 ? "busy" : "complete";
  if ((value & 0x01) != 0) text += ", triggered on channel 1";
  if ((value & 0x02) != 0) text += ", triggered on channel 2";
  if ((value & 0x04) != 0) text += ", external trigger";
  if ((value & 0x40) != 0) text += ", memory wrapped";
  return text;
}

void InstrumentDecoder::Take(const LinkItem& item) {
  switch (item.kind) {
    case LinkItem::Kind::kNote:
      if (item.reg == -1) {
        Emit(item.line, item.text, idle_notes_++ > 0);
      } else {
        Push(Done(item.line, item.text));
      }
      break;
    case LinkItem::Kind::kWrite:
      TakeWrite(item);
      break;
    case LinkItem::Kind::kRead:
      TakeRead(item);
      break;
    case LinkItem::Kind::kSamples: {
      summary_.samples += item.codes.size();
      Op op{Op::Kind::kSamples, item.line};
      op.channel = item.channel;
      op.codes = item.codes;
      op.regular = item.regular;
      op.unit = item.unit;
      Push(std::move(op));
      break;
    }
  }
}

void InstrumentDecoder::Finish() {
  EndBusTransaction(last_line_);
  FlushEeprom();
  if (counter_strobes_ > 0) {
    Push(Done(counter_line_, "counter " + std::to_string(counter_) + " load incomplete (" +
                                 std::to_string(counter_strobes_) + " of 16 bits)"));
    counter_strobes_ = 0;
  }
  FlushConverter();
  while (!pending_.empty()) EmitFront();
}

void InstrumentDecoder::Emit(std::size_t line, const std::string& text, bool detail) {
  events_.push_back(Event{line, base_, text, detail});
}

Op InstrumentDecoder::Done(std::size_t line, std::string text) {
  Op op{Op::Kind::kDone, line};
  op.text = std::move(text);
  return op;
}

std::string InstrumentDecoder::UnitSuffix(std::uint8_t unit) const {
  return unit == 0x30 ? std::string() : " [unit " + std::to_string(UnitOf(unit)) + "]";
}

void InstrumentDecoder::TakeWrite(const LinkItem& item) {
  ++summary_.register_writes;
  last_line_ = item.line;
  Emit(item.line, "register " + std::to_string(item.reg) + " := " + std::to_string(item.value) + UnitSuffix(item.unit),
       true);
  const int reg = item.reg;
  const int value = item.value;
  // A read of register 2 right after register 6 released the data line
  // samples the EEPROM; the read-back select in between does not count.
  if (reg != 15) sampling_write_ = false;
  switch (reg) {
    case 2:
    case 3:
    case 4:
      CounterStrobe(item);
      return;
    case 5:
      Register5(item);
      return;
    case 6:
      BusWrite(item);
      return;
    case 8:
      reg8_ = value;
      if (shifting_) return;
      break;
    case 9:
      Register9(item);
      return;
    case 12:
      if (value == 0 && !shifting_) {
        shifting_ = true;
        shift_bits_.clear();
        shift_target_ = 0;
        shift_line_ = reg5_line_;
        return;
      }
      if (value == 1 && shifting_) {
        shifting_ = false;
        EndShift();
        return;
      }
      break;
    case 15:
      return;  // read-back select: shown with the read it belongs to
    default:
      break;
  }
  if (reg == 7) reg7_ = value;
  Op op{Op::Kind::kWrite, item.line, reg, value, item.unit};
  Push(std::move(op));
}

void InstrumentDecoder::TakeRead(const LinkItem& item) {
  ++summary_.register_reads;
  last_line_ = item.line;
  Emit(item.line,
       "register " + std::to_string(item.reg) + " reads " + Hex(static_cast<unsigned>(item.value), 2) +
           (item.regular ? "" : " (irregular read sequence)") + UnitSuffix(item.unit),
       true);
  if (item.reg == 2 && sampling_write_) {
    // The EEPROM data line, sampled right after register 6 released it.
    sampling_write_ = false;
    if (pending_sample_) {
      pending_sample_ = false;
      BusBit((item.value >> 4) & 1, item.line);
    }
    return;
  }
  Op op{Op::Kind::kRead, item.line, item.reg, item.value, item.unit};
  op.regular = item.regular;
  Push(std::move(op));
}

void InstrumentDecoder::Push(Op op) {
  pending_.push_back(std::move(op));
  Match();
  while (pending_.size() > kLongestPattern) EmitFront();
}

bool InstrumentDecoder::IsWrite(const Op& op, int reg, int value) {
  return op.kind == Op::Kind::kWrite && op.reg == reg && (value < 0 || op.value == value);
}

void InstrumentDecoder::Match() {
  const std::size_t n = pending_.size();
  auto at = [&](std::size_t back) -> const Op& { return pending_[n - 1 - back]; };
  // Arm: 12 := 1, 8 := 0, 0 := 2, 13 := 7, 1 := 14, 1 := 0, 13 := 15.
  if (n >= 7 && IsWrite(at(6), 12, 1) && IsWrite(at(5), 8, 0) && IsWrite(at(4), 0, 2) && IsWrite(at(3), 13, 7) &&
      IsWrite(at(2), 1, 14) && IsWrite(at(1), 1, 0) && IsWrite(at(0), 13, 15)) {
    Replace(7, "arm: acquisition started");
    return;
  }
  // Sample clock: counter 3 (divider), 14 := prescaler code, 1 := 1, 1 := 0.
  if (n >= 4 && at(3).kind == Op::Kind::kCounter && at(3).reg == 3 && IsWrite(at(2), 14) && IsWrite(at(1), 1, 1) &&
      IsWrite(at(0), 1, 0)) {
    const int prescaler = PrescalerOf(at(2).value);
    const int divider = 0xFFFF - at(3).value + 2;
    double frequency = 400000.0 / prescaler / divider;
    // The faster variant runs its undivided clock at 400 kHz when register
    // 7 selects it (clock select 8).
    if (summary_.variant == 0x11 && (reg7_ & 8) != 0 && divider == 2 && prescaler == 1) frequency = 400000.0;
    Replace(4, "sample clock: prescaler " + std::to_string(prescaler) + ", divider " + std::to_string(divider) +
                   " (counter 3 := " + Hex(static_cast<unsigned>(at(3).value), 4) + "): " + Format("%.6g", frequency) +
                   " Hz");
    return;
  }
  // Read address to the start of the memory: 1 := 4, 1 := 0.
  if (n >= 2 && IsWrite(at(1), 1, 4) && IsWrite(at(0), 1, 0)) {
    Replace(2, "read address to the start of the sample memory");
    return;
  }
  // Seek: counter 4, 0 := 0, 7 := select + 3, 13 := 2, 1 := 6, 1 := 0, 13 := 10.
  if (n >= 7 && at(6).kind == Op::Kind::kCounter && at(6).reg == 4 && IsWrite(at(5), 0, 0) && IsWrite(at(4), 7) &&
      IsWrite(at(3), 13, 2) && IsWrite(at(2), 1, 6) && IsWrite(at(1), 1, 0) && IsWrite(at(0), 13, 10)) {
    Replace(7, "seek: advance the read address by " + std::to_string(PostCount(at(6).value)) + " samples");
    return;
  }
  // Sample read-out: 13 := 0, 0 := 1, the lane reads, 13 := 2, 0 := 0.
  if (n >= 5 && IsWrite(at(4), 13, 0) && IsWrite(at(3), 0, 1) && at(2).kind == Op::Kind::kSamples &&
      IsWrite(at(1), 13, 2) && IsWrite(at(0), 0, 0)) {
    const Op samples = at(2);
    Replace(5, SamplesText(samples));
    EmitSampleCodes(samples);
    return;
  }
  // Write pointer: register 1 (high byte) then register 0 (low byte).
  if (n >= 2 && at(1).kind == Op::Kind::kRead && at(1).reg == 1 && at(0).kind == Op::Kind::kRead && at(0).reg == 0) {
    const int count = at(1).value * 256 + at(0).value;
    int newest = 32765 - (count >> 1);
    if (newest < 0) newest += 32768;
    Replace(2, "write pointer: newest sample at " + std::to_string(newest));
    return;
  }
}

std::string InstrumentDecoder::SamplesText(const Op& op) const {
  std::string text = "read channel " + std::to_string(op.channel) + ": " + std::to_string(op.codes.size()) + " samples";
  if (!op.codes.empty()) {
    const auto [lo, hi] = std::minmax_element(op.codes.begin(), op.codes.end());
    double sum = 0;
    for (std::uint16_t c : op.codes) sum += (static_cast<double>(c) - 32768.0) / 32768.0;
    text += ", codes " + Hex(*lo, 4) + ".." + Hex(*hi, 4) + ", mean " +
            Format("%+.4f", sum / static_cast<double>(op.codes.size())) + " of full scale";
  }
  if (!op.regular) text += " (irregular read sequence)";
  return text + UnitSuffix(op.unit);
}

void InstrumentDecoder::EmitSampleCodes(const Op& op) {
  if (!options_.samples) return;
  for (std::size_t i = 0; i < op.codes.size(); i += 16) {
    std::string text = "  samples " + std::to_string(i) + ":";
    for (std::size_t j = i; j < op.codes.size() && j < i + 16; ++j) {
      text += ' ';
      text += Hex(op.codes[j], 4);
    }
    Emit(op.line, text, false);
  }
}

void InstrumentDecoder::Replace(std::size_t count, const std::string& text) {
  const std::size_t line = pending_[pending_.size() - count].line;
  const std::uint8_t unit = pending_[pending_.size() - count].unit;
  pending_.erase(pending_.end() - static_cast<std::ptrdiff_t>(count), pending_.end());
  // Whatever waited before the matched action comes out first.
  while (!pending_.empty()) EmitFront();
  Emit(line, text + UnitSuffix(unit));
}

void InstrumentDecoder::EmitFront() {
  Op op = std::move(pending_.front());
  pending_.pop_front();
  const Op* next = pending_.empty() ? nullptr : &pending_.front();
  switch (op.kind) {
    case Op::Kind::kDone:
      Emit(op.line, op.text);
      break;
    case Op::Kind::kSamples:
      Emit(op.line, SamplesText(op));
      EmitSampleCodes(op);
      break;
    case Op::Kind::kRead:
      if (op.reg == 2) {
        Emit(op.line, StatusText(op.value) + UnitSuffix(op.unit));
      } else {
        Emit(op.line, "register " + std::to_string(op.reg) + " reads " + Hex(static_cast<unsigned>(op.value), 2) +
                          UnitSuffix(op.unit));
      }
      break;
    case Op::Kind::kCounter:
      Emit(op.line, CounterText(op, next) + UnitSuffix(op.unit));
      break;
    case Op::Kind::kWrite:
      Emit(op.line, WriteText(op) + UnitSuffix(op.unit));
      previous_write_ = op.reg;
      return;
  }
  previous_write_ = -1;
}

std::string InstrumentDecoder::CounterText(const Op& op, const Op* next) {
  const std::string load = "counter " + std::to_string(op.reg) + " := " + Hex(static_cast<unsigned>(op.value), 4);
  switch (op.reg) {
    case 2: {
      // High byte: level code xor FF; low byte: the other threshold xor FF.
      const int level = ((op.value >> 8) & 0xFF) ^ 0xFF;
      const int threshold = (op.value & 0xFF) ^ 0xFF;
      if (op.value == 0) return "trigger levels: " + load + " (trigger kind without levels)";
      return "trigger levels: " + load + " (level code " + std::to_string(level) + ", hysteresis threshold code " +
             std::to_string(threshold) + ")";
    }
    case 3:
      return "sample clock divider: " + load + " (divider " + std::to_string(0xFFFF - op.value + 2) + ")";
    case 4:
      if (next != nullptr && IsWrite(*next, 0, 0)) {
        return "seek count: " + load + " (" + std::to_string(PostCount(op.value)) + " samples)";
      }
      return "post-trigger samples: " + std::to_string(PostCount(op.value)) + " (" + load + ")";
    default:
      return load;
  }
}

std::string InstrumentDecoder::WriteText(const Op& op) const {
  const std::string assignment = "register " + std::to_string(op.reg) + " := " + std::to_string(op.value);
  switch (op.reg) {
    case 7:
      return "clock select: " + assignment;
    case 10:
      // The motor outputs live in register 10 of unit 4; an arm writes the
      // trigger source right after the trigger kind (register 11).
      if ((op.unit & 0x30) == 0 && previous_write_ != 11) {
        return std::string("motor outputs: first ") + ((op.value & 1) != 0 ? "on" : "off") + ", second " +
               ((op.value & 2) != 0 ? "on" : "off") + " (" + assignment + ")";
      }
      return "trigger source: " + TriggerSourceName(op.value) + " (" + assignment + ")";
    case 11:
      return "trigger kind: " + TriggerKindName(op.value) + " (" + assignment + ")";
    case 13:
      return "acquisition mode: " + assignment;
    case 14:
      return "prescaler: " + std::to_string(PrescalerOf(op.value)) + " (" + assignment + ")";
    default:
      return assignment;
  }
}

}  // namespace ru3cli::trace::internal

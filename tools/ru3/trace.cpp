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

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <set>

#include "failure.h"

namespace ru3cli::trace {

namespace {

std::string Hex(unsigned value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", digits, value);
  return buffer;
}

std::string Format(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

int UnitOf(std::uint8_t unit_bits) {
  switch (unit_bits & 0x30) {
    case 0x30:
      return 1;
    case 0x20:
      return 2;
    case 0x10:
      return 3;
    default:
      return 4;
  }
}

// ---------------------------------------------------------------------------
// Layer 1: the register link of one printer port.

struct LinkItem {
  enum class Kind { kWrite, kRead, kSamples, kNote };
  Kind kind = Kind::kNote;
  std::size_t line = 0;
  int reg = 0;
  int value = 0;
  std::uint8_t unit = 0x30;
  int channel = 0;
  std::vector<std::uint16_t> codes;
  bool regular = true;
  std::string text;
};

class LinkDecoder {
 public:
  explicit LinkDecoder(std::function<void(LinkItem)> sink) : sink_(std::move(sink)) {}

  void Data(std::size_t line, std::uint8_t value) {
    data_ = value;
    data_line_ = line;
    data_since_idle_ = true;
    if (segment_) {
      if (segment_->ops.empty() || segment_->ops.back().read || segment_->ops.back().value != value) {
        segment_->ops.push_back({false, value, line});
      }
    }
  }

  void Control(std::size_t line, std::uint8_t value) {
    const std::optional<std::uint8_t> previous = control_;
    control_ = value;
    if (value == 0x0C) {
      if (previous == 0x0C) return;  // repeated strobe (slow port)
      FinishSegment();
      if (!data_) {
        Note(line, "address strobe with no data byte on the port");
        return;
      }
      address_ = *data_ & 0x0F;
      unit_ = *data_ & 0x30;
      transfer_line_ = data_line_;
      return;
    }
    if (value == 0x06) {
      if (previous == 0x06) return;
      if (!address_ || !data_) {
        Note(line, "data strobe without an address cycle");
        return;
      }
      LinkItem item;
      item.kind = LinkItem::Kind::kWrite;
      item.line = transfer_line_;
      item.reg = *address_;
      item.value = *data_ & 0x0F;
      item.unit = unit_;
      sink_(item);
      if (item.reg == 15) segment_ = Segment{item.value, transfer_line_, unit_, {}};
      return;
    }
    if (value == 0x04) {
      // Idle control after idle data, with no strobe in between: the port
      // lines were put in their resting state (opening, identification).
      if (!previous || (*previous == 0x04 && data_since_idle_)) {
        FinishSegment();
        LinkItem item;
        item.kind = LinkItem::Kind::kNote;
        item.line = line;
        item.reg = -1;  // marks the idle-lines note
        item.text = "port lines set idle (control 04" + (data_ ? ", data " + Hex(*data_, 2) : std::string()) + ")";
        sink_(item);
      }
      data_since_idle_ = false;
      return;
    }
    Note(line, "control port := " + Hex(value, 2) + " (not a strobe state of the link)");
  }

  void Status(std::size_t line, std::uint8_t value) {
    if (!segment_) {
      Note(line, "status read " + Hex(value, 2) + " outside a register read");
      return;
    }
    auto& ops = segment_->ops;
    // A repeated read (slow port) keeps only its last value.
    if (!ops.empty() && ops.back().read) {
      ops.back().value = value;
    } else {
      ops.push_back({true, value, line, data_.value_or(0xFF)});
    }
  }

  void Finish() { FinishSegment(); }

 private:
  struct Op {
    bool read;
    std::uint8_t value;
    std::size_t line;
    std::uint8_t data = 0;  // for reads: the data byte on the port at the time
  };
  struct Segment {
    int selected;
    std::size_t line;
    std::uint8_t unit;
    std::vector<Op> ops;
  };

  void Note(std::size_t line, const std::string& text) {
    LinkItem item;
    item.kind = LinkItem::Kind::kNote;
    item.line = line;
    item.text = text;
    sink_(item);
  }

  static int Nibble(std::uint8_t status) { return (status >> 3) & 0x0F; }

  void FinishSegment() {
    if (!segment_) return;
    Segment segment = std::move(*segment_);
    segment_.reset();
    std::vector<Op> reads;
    std::size_t writes_before_first_read = 0;
    for (const Op& op : segment.ops) {
      if (op.read) {
        reads.push_back(op);
      } else if (reads.empty()) {
        ++writes_before_first_read;
      }
    }
    if (reads.empty()) return;  // read-back select written, nothing read
    // The sample lane is primed with several clock edges before the first
    // read; a register read selects the high nibble and reads at once.
    if (segment.selected == 3 && writes_before_first_read > 1) {
      DecodeSamples(segment, reads);
      return;
    }
    LinkItem item;
    item.kind = LinkItem::Kind::kRead;
    item.line = segment.line;
    item.reg = segment.selected;
    item.unit = segment.unit;
    if (reads.size() == 2 && (reads[0].data & 0x80) != 0 && (reads[1].data & 0x80) == 0) {
      item.value = Nibble(reads[0].value) * 16 + Nibble(reads[1].value);
    } else {
      // Not the two-phase shape of a register read: take the phases as they
      // come and say so.
      item.regular = false;
      item.value = Nibble(reads[0].value) * 16 + (reads.size() > 1 ? Nibble(reads[1].value) : 0);
    }
    sink_(item);
  }

  void DecodeSamples(const Segment& segment, const std::vector<Op>& reads) {
    LinkItem item;
    item.kind = LinkItem::Kind::kSamples;
    item.line = segment.line;
    item.unit = segment.unit;
    // Data bit 6 chooses the lane: 1 for channel 1, 0 for channel 2.
    item.channel = (reads.front().data & 0x40) != 0 ? 1 : 2;
    for (std::size_t i = 0; i + 2 < reads.size(); i += 3) {
      const unsigned s1 = reads[i].value;
      const unsigned s2 = reads[i + 1].value;
      const unsigned s3 = reads[i + 2].value;
      // First read with the clock (bit 7) low, the other two with it high.
      if ((reads[i].data & 0x80) != 0 || (reads[i + 1].data & 0x80) == 0) item.regular = false;
      const unsigned code = (((s1 << 1) & 0x0F0) | ((s2 << 5) & 0xF00) | ((s3 >> 3) & 0x00F)) ^ 0xFFF;
      item.codes.push_back(static_cast<std::uint16_t>(code << 4));
    }
    if (reads.size() % 3 != 0) item.regular = false;
    sink_(item);
  }

  std::function<void(LinkItem)> sink_;
  std::optional<std::uint8_t> data_;
  std::size_t data_line_ = 0;
  bool data_since_idle_ = false;
  std::optional<std::uint8_t> control_;
  std::optional<int> address_;
  std::uint8_t unit_ = 0x30;
  std::size_t transfer_line_ = 0;
  std::optional<Segment> segment_;
};

// ---------------------------------------------------------------------------
// Layers 2 and 3: what the register traffic of one port means.

// One step of the sequence layer: a plain register write or read, a counter
// load, a sample read, or an action already decoded by a serial decoder.
struct Op {
  enum class Kind { kWrite, kRead, kCounter, kSamples, kDone };
  Op(Kind k, std::size_t at, int r = 0, int v = 0, std::uint8_t u = 0x30)
      : kind(k), line(at), reg(r), value(v), unit(u) {}
  Kind kind;
  std::size_t line;
  int reg;  // register, or counter number
  int value;
  std::uint8_t unit;
  int channel = 0;
  std::vector<std::uint16_t> codes;
  bool regular = true;
  std::string text;  // kDone: the decoded action
};

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

class InstrumentDecoder {
 public:
  InstrumentDecoder(std::uint16_t base, std::vector<Event>& events, PortSummary& summary, const DecodeOptions& options)
      : base_(base), events_(events), summary_(summary), options_(options) {}

  void Take(const LinkItem& item) {
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

  void Finish() {
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

 private:
  // --- Output -------------------------------------------------------------

  void Emit(std::size_t line, const std::string& text, bool detail = false) {
    events_.push_back(Event{line, base_, text, detail});
  }

  static Op Done(std::size_t line, std::string text) {
    Op op{Op::Kind::kDone, line};
    op.text = std::move(text);
    return op;
  }

  std::string UnitSuffix(std::uint8_t unit) const {
    return unit == 0x30 ? std::string() : " [unit " + std::to_string(UnitOf(unit)) + "]";
  }

  // --- Register writes and reads -----------------------------------------

  void TakeWrite(const LinkItem& item) {
    ++summary_.register_writes;
    last_line_ = item.line;
    Emit(item.line,
         "register " + std::to_string(item.reg) + " := " + std::to_string(item.value) + UnitSuffix(item.unit), true);
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

  void TakeRead(const LinkItem& item) {
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

  // --- Counter loads: register 5 carries bit address and data bit, the
  // strobe register one bit per nibble latch.

  void CounterStrobe(const LinkItem& item) {
    const int counter = item.reg;
    const int value = item.value;
    if (value == 0) return;  // end of the strobe pulse
    int nibble = -1;
    for (int i = 0; i < 4; ++i) {
      if (value == (1 << i)) nibble = i;
    }
    if (nibble < 0) {
      Push(Done(item.line, "register " + std::to_string(counter) + " := " + std::to_string(value) +
                               " (not a single latch strobe)"));
      return;
    }
    if (counter_strobes_ > 0 && counter != counter_) {
      Push(Done(counter_line_, "counter " + std::to_string(counter_) + " load incomplete (" +
                                   std::to_string(counter_strobes_) + " of 16 bits)"));
      counter_strobes_ = 0;
    }
    if (counter_strobes_ == 0) {
      counter_ = counter;
      counter_word_ = 0;
      counter_line_ = reg5_line_;
      counter_unit_ = item.unit;
    }
    const int bit_address = reg5_ & 3;
    const int data = (reg5_ >> 2) & 1;
    const int bit = 4 * nibble + (3 - bit_address);
    if (data != 0) {
      counter_word_ |= 1 << bit;
    } else {
      counter_word_ &= ~(1 << bit);
    }
    if (++counter_strobes_ == 16) {
      counter_strobes_ = 0;
      Op op{Op::Kind::kCounter, counter_line_, counter_, counter_word_, counter_unit_};
      Push(std::move(op));
    }
  }

  // --- Register 5: the serial lines of every shift register -------------

  void Register5(const LinkItem& item) {
    const int previous = reg5_;
    const int value = item.value;
    reg5_ = value;
    const bool clock0_rises = (previous & 1) == 0 && (value & 1) != 0;
    const bool clock3_rises = (previous & 8) == 0 && (value & 8) != 0;
    if (shifting_) {
      // Converter word: data from register 8, clock on bit 0 while the frame
      // (bit 1) is active low.
      if (clock0_rises && (value & 2) == 0) {
        shift_bits_.push_back(reg8_ != 0 ? 1 : 0);
        if ((reg8_ & 1) != 0) shift_target_ |= 1;
        if ((reg8_ & 2) != 0) shift_target_ |= 2;
      }
    } else if (select9_ == 1 || select9_ == 2 || select9_ == 7 || select9_ == 11) {
      // Trim converter or auxiliary DAC: data bit 2, clock bit 0.
      if (clock0_rises) select_bits_.push_back((value >> 2) & 1);
    } else if (clock3_rises) {
      // Relay shift register: data bit 2, clock bit 3.
      if (relay_bits_.empty()) relay_line_ = reg5_line_;
      relay_bits_.push_back((value >> 2) & 1);
      if (relay_bits_.size() == 8) EndRelay();
    }
    reg5_line_ = item.line;
  }

  void EndRelay() {
    int byte = 0;
    for (int bit : relay_bits_) byte = byte * 2 + bit;
    relay_bits_.clear();
    auto group = [](int bits) -> std::string {
      // One of the three group bits is 0: it selects the range group.
      switch (bits & 7) {
        case 6:
          return "0.1-0.8 V";
        case 5:
          return "2-8 V";
        case 3:
          return "20-80 V";
        default:
          return "group bits " + std::to_string(bits & 7);
      }
    };
    std::string text = "input relays := " + Hex(static_cast<unsigned>(byte), 2) + ": channel 1 " + group(byte >> 1) +
                       ((byte & 0x01) != 0 ? " coupling 0" : " coupling 1") + ", channel 2 " + group(byte >> 5) +
                       ((byte & 0x10) != 0 ? " coupling 0" : " coupling 1");
    Push(Done(relay_line_, text));
  }

  // --- Register 9: trim converter and DAC selects ------------------------

  void Register9(const LinkItem& item) {
    const int value = item.value;
    if (value == 3) {
      EndSelect(item.line);
      select9_ = 3;
      return;
    }
    if (value == 1 || value == 2 || value == 7 || value == 11) {
      if (select9_ != 3 && select9_ != 0 && !select_bits_.empty()) EndSelect(item.line);
      select9_ = value;
      select_bits_.clear();
      select_line_ = item.line;
      select_unit_ = item.unit;
      return;
    }
    select9_ = value;
    Push(Done(item.line, "register 9 := " + std::to_string(value) + " (unknown converter select)"));
  }

  void EndSelect(std::size_t line) {
    const int select = select9_;
    if (select != 1 && select != 2 && select != 7 && select != 11) return;
    int word = 0;
    for (int bit : select_bits_) word = word * 2 + bit;
    const std::size_t bits = select_bits_.size();
    select_bits_.clear();
    if (select == 1 || select == 2) {
      // Dual trim converter: 10-bit words, bits 9-8 the output, 7-0 the value.
      const int channel = select == 2 ? 1 : 2;
      if (bits != 10) {
        Push(Done(select_line_, "trim converter of channel " + std::to_string(channel) + ": " + std::to_string(bits) +
                                    " bits shifted, 10 expected"));
        return;
      }
      const int output = (word >> 8) & 3;
      const int value = word & 0xFF;
      if (trim_words_.empty() || trim_channel_ != channel) {
        trim_words_.clear();
        trim_channel_ = channel;
        trim_line_ = select_line_;
      }
      trim_words_.emplace_back(output, value);
      if (trim_words_.size() == 2) {
        // Channel 1 sends A then 255 - B; channel 2 sends 255 - B then A.
        int a = -1, b = -1;
        for (const auto& [out, v] : trim_words_) {
          const bool is_a = (channel == 1) == (out == 0);
          if (is_a) {
            a = v;
          } else {
            b = 255 - v;
          }
        }
        trim_words_.clear();
        Push(Done(trim_line_, "trim converters of channel " + std::to_string(channel) + ": A = " + std::to_string(a) +
                                  ", B = " + std::to_string(b)));
      }
      return;
    }
    const int output = select == 7 ? 1 : 2;
    if (bits != 12) {
      Push(Done(select_line_,
                "DAC output " + std::to_string(output) + ": " + std::to_string(bits) + " bits shifted, 12 expected"));
      return;
    }
    const double volts = word * 20.0 / 4096.0 - 10.0;
    std::string text = "DAC output " + std::to_string(output) + " := code " + std::to_string(word) + " (" +
                       Format("%+.3f", volts) + " V)" + UnitSuffix(select_unit_);
    (void)line;
    Push(Done(select_line_, text));
  }

  // --- Converter words (ShiftOut16) and converter loads --------------------

  void EndShift() {
    if (shift_bits_.size() != 16) {
      Push(Done(shift_line_, "converter word: " + std::to_string(shift_bits_.size()) + " bits shifted, 16 expected"));
      return;
    }
    int word = 0;
    for (int bit : shift_bits_) word = word * 2 + bit;
    const int target = shift_target_ == 1 ? 1 : shift_target_ == 2 ? 2 : 0;
    ConverterWord(shift_line_, target, word);
  }

  void ConverterWord(std::size_t line, int target, int word) {
    // A converter load: 0xC300, gain word, offset word, eight 0xA000 words.
    if (word == 0xC300) {
      FlushConverter();
      load_active_ = true;
      load_target_ = target;
      load_line_ = line;
      load_words_.clear();
      return;
    }
    if (load_active_ && (target == load_target_ || target == 0)) {
      load_words_.push_back(word);
      const bool values_ok = load_words_.size() > 2 || (word & 0xC000) == 0x8000;
      const bool tail_ok = load_words_.size() <= 2 || word == 0xA000;
      if (!values_ok || !tail_ok) {
        FlushConverter();
        return;
      }
      if (load_words_.size() == 10) {
        load_active_ = false;
        Push(Done(load_line_, "converter " + TargetName(load_target_) + " loaded: gain code " +
                                  std::to_string(load_words_[0] & 0x3FFF) + ", mean of gain and offset codes " +
                                  std::to_string(load_words_[1] & 0x3FFF)));
        load_words_.clear();
      }
      return;
    }
    FlushConverter();
    Push(Done(line, "converter " + TargetName(target) + " word " + Hex(static_cast<unsigned>(word), 4)));
  }

  static std::string TargetName(int target) { return target == 0 ? "?" : std::to_string(target); }

  void FlushConverter() {
    if (!load_active_) return;
    load_active_ = false;
    std::string text = "converter " + TargetName(load_target_) + " load interrupted after " +
                       std::to_string(load_words_.size()) + " words:";
    text += " C300";
    for (int w : load_words_) {
      text += ' ';
      text += Hex(static_cast<unsigned>(w), 4);
    }
    load_words_.clear();
    Push(Done(load_line_, text));
  }

  // --- The EEPROM's two-wire bus on register 6 ------------------------------

  void BusWrite(const LinkItem& item) {
    const int value = item.value;
    if ((value & 0x08) == 0) {
      Push(Done(item.line, "register 6 := " + std::to_string(value) + " (not a bus line state)"));
      return;
    }
    const bool driving = (value & 0x04) != 0;
    const int clock = value & 1;
    const int data = (value >> 1) & 1;
    if (driving && bus_driving_ && bus_clock_ == 1 && clock == 1 && data != bus_data_) {
      if (data == 0) {
        // Start condition: data falls while the clock is high.
        EndBusTransaction(item.line);
        bus_active_ = true;
        bus_line_ = item.line;
        bus_bits_.clear();
        bus_bytes_.clear();
        bus_acks_.clear();
      } else {
        EndBusTransaction(item.line);  // stop condition
      }
    } else if (bus_clock_ == 0 && clock == 1) {
      if (driving) {
        BusBit(data, item.line);
      } else {
        pending_sample_ = true;
      }
    }
    if (!driving) sampling_write_ = true;
    bus_driving_ = driving;
    bus_clock_ = clock;
    bus_data_ = driving ? data : 1;
  }

  void BusBit(int bit, std::size_t /*line*/) {
    if (!bus_active_) return;
    bus_bits_.push_back(bit);
    if (bus_bits_.size() == 9) {
      int byte = 0;
      for (int i = 0; i < 8; ++i) byte = byte * 2 + bus_bits_[static_cast<std::size_t>(i)];
      bus_bytes_.push_back(byte);
      bus_acks_.push_back(bus_bits_[8] == 0);
      bus_bits_.clear();
    }
  }

  // A transaction ends at a stop or a new start; a partial byte (the clock
  // edge that leads into the stop) is not part of it.
  void EndBusTransaction(std::size_t /*line*/) {
    if (!bus_active_) return;
    bus_active_ = false;
    bus_bits_.clear();
    if (bus_bytes_.empty()) return;
    const int device = bus_bytes_.front();
    const bool device_ack = bus_acks_.front();
    const std::vector<int> payload(bus_bytes_.begin() + 1, bus_bytes_.end());
    if ((device & 0xFE) != 0xA0) {
      FlushEeprom();
      Push(Done(bus_line_, "serial bus: device address " + Hex(static_cast<unsigned>(device), 2) + " (" +
                               std::to_string(payload.size()) + " bytes)"));
      return;
    }
    if ((device & 1) == 0) {
      // Write transaction: the first byte sets the memory's address pointer.
      FlushEeprom();
      if (payload.size() == 1) {
        eeprom_address_ = payload[0];
        eeprom_line_ = bus_line_;
        eeprom_ack_ = device_ack;
        return;
      }
      std::string text = "EEPROM write of " + std::to_string(payload.size()) + " bytes:";
      for (int b : payload) {
        text += ' ';
        text += Hex(static_cast<unsigned>(b), 2);
      }
      Push(Done(bus_line_, text));
      return;
    }
    const std::size_t line = eeprom_address_ ? eeprom_line_ : bus_line_;
    const bool acknowledged = device_ack && (!eeprom_address_ || eeprom_ack_);
    EepromRead(line, eeprom_address_, payload, acknowledged);
    eeprom_address_.reset();
  }

  void FlushEeprom() {
    if (!eeprom_address_) return;
    Push(Done(eeprom_line_,
              "EEPROM address pointer := " + Hex(static_cast<unsigned>(*eeprom_address_), 2) + " (no read followed)"));
    eeprom_address_.reset();
  }

  void EepromRead(std::size_t line, std::optional<int> address, const std::vector<int>& bytes, bool acknowledged) {
    std::string text = "EEPROM read";
    if (address)
      text += " at address " + std::to_string(*address) + " (0x" + Hex(static_cast<unsigned>(*address), 2) + ")";
    text += ", " + std::to_string(bytes.size()) + (bytes.size() == 1 ? " byte" : " bytes");
    if (!acknowledged) text += ", not acknowledged";
    if (bytes.size() == 1 && address) {
      const int b = bytes[0];
      text += ": " + Hex(static_cast<unsigned>(b), 2);
      if (*address == 1) {
        summary_.signature = static_cast<std::uint8_t>(b);
        if (b == 0xAA) summary_.identified_line = line;
        text += b == 0xAA ? " (signature: instrument present)" : " (signature wrong: no instrument on this port)";
      } else if (*address == 5) {
        summary_.variant = static_cast<std::uint8_t>(b);
        text += b == 0x11 ? " (variant: 400 kHz)" : " (variant: 200 kHz)";
      }
    } else if (bytes.size() >= 16 && address && *address == 0) {
      auto at = [&](int i) { return bytes[static_cast<std::size_t>(i)]; };
      const int serial = at(6) + 256 * at(7) + 65536 * at(8);
      const int year = at(10) + 256 * at(11);
      char date[64];
      std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d", year, at(12), at(13), at(14), at(15));
      text += ": signature " + Hex(static_cast<unsigned>(at(1)), 2) + ", variant " +
              Hex(static_cast<unsigned>(at(5)), 2) + ", serial number " + std::to_string(serial) + ", calibrated " +
              date;
    } else if (!bytes.empty()) {
      text += ":";
      for (std::size_t i = 0; i < bytes.size() && i < 8; ++i) {
        text += ' ';
        text += Hex(static_cast<unsigned>(bytes[i]), 2);
      }
      if (bytes.size() > 8) text += " ...";
    }
    Push(Done(line, text));
  }

  // --- Layer 3: sequences of plain operations -----------------------------

  void Push(Op op) {
    pending_.push_back(std::move(op));
    Match();
    while (pending_.size() > kLongestPattern) EmitFront();
  }

  static constexpr std::size_t kLongestPattern = 7;

  static bool IsWrite(const Op& op, int reg, int value = -1) {
    return op.kind == Op::Kind::kWrite && op.reg == reg && (value < 0 || op.value == value);
  }

  // Tries the multi-step actions that end at the newest operation.
  void Match() {
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
                     " (counter 3 := " + Hex(static_cast<unsigned>(at(3).value), 4) +
                     "): " + Format("%.6g", frequency) + " Hz");
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

  std::string SamplesText(const Op& op) const {
    std::string text =
        "read channel " + std::to_string(op.channel) + ": " + std::to_string(op.codes.size()) + " samples";
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

  void EmitSampleCodes(const Op& op) {
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

  void Replace(std::size_t count, const std::string& text) {
    const std::size_t line = pending_[pending_.size() - count].line;
    const std::uint8_t unit = pending_[pending_.size() - count].unit;
    pending_.erase(pending_.end() - static_cast<std::ptrdiff_t>(count), pending_.end());
    // Whatever waited before the matched action comes out first.
    while (!pending_.empty()) EmitFront();
    Emit(line, text + UnitSuffix(unit));
  }

  // Prints the oldest waiting operation on its own.
  void EmitFront() {
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

  static std::string CounterText(const Op& op, const Op* next) {
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

  std::string WriteText(const Op& op) const {
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

  std::uint16_t base_;
  std::vector<Event>& events_;
  PortSummary& summary_;
  const DecodeOptions& options_;
  std::deque<Op> pending_;
  int previous_write_ = -1;
  int idle_notes_ = 0;
  std::size_t last_line_ = 0;

  int reg5_ = 0;
  std::size_t reg5_line_ = 0;
  int reg7_ = 8;
  int reg8_ = 0;

  int counter_ = 0;
  int counter_word_ = 0;
  int counter_strobes_ = 0;
  std::size_t counter_line_ = 0;
  std::uint8_t counter_unit_ = 0x30;

  bool shifting_ = false;
  std::vector<int> shift_bits_;
  int shift_target_ = 0;
  std::size_t shift_line_ = 0;
  bool load_active_ = false;
  int load_target_ = 0;
  std::size_t load_line_ = 0;
  std::vector<int> load_words_;

  std::vector<int> relay_bits_;
  std::size_t relay_line_ = 0;

  int select9_ = 3;
  std::vector<int> select_bits_;
  std::size_t select_line_ = 0;
  std::uint8_t select_unit_ = 0x30;
  std::vector<std::pair<int, int>> trim_words_;
  int trim_channel_ = 0;
  std::size_t trim_line_ = 0;

  bool bus_driving_ = false;
  int bus_clock_ = -1;
  int bus_data_ = -1;
  bool bus_active_ = false;
  bool pending_sample_ = false;
  bool sampling_write_ = false;
  std::size_t bus_line_ = 0;
  std::vector<int> bus_bits_;
  std::vector<int> bus_bytes_;
  std::vector<bool> bus_acks_;
  std::optional<int> eeprom_address_;
  std::size_t eeprom_line_ = 0;
  bool eeprom_ack_ = true;
};

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

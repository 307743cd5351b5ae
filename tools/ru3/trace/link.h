// Port-trace decoding, layer 1: the register link of one printer port.
// Data-port bytes with address (control 0x0C) and data (control 0x06) strobes
// are register writes; a write of register 15 followed by status reads is a
// register read or, for the sample lane, a run of sample reads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ru3cli::trace::internal {

inline std::string Hex(unsigned value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", digits, value);
  return buffer;
}

inline std::string Format(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

inline int UnitOf(std::uint8_t unit_bits) {
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

}  // namespace ru3cli::trace::internal

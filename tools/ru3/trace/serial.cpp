// The serial protocols of the port-trace decoder: counter loads, the relay,
// trim and DAC selects, converter words and the EEPROM's two-wire bus.
#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>

#include "../failure.h"
#include "decoder.h"

namespace ru3cli::trace::internal {

void InstrumentDecoder::CounterStrobe(const LinkItem& item) {
  const int counter = item.reg;
  const int value = item.value;
  if (value == 0) return;  // end of the strobe pulse
  int nibble = -1;
  for (int i = 0; i < 4; ++i) {
    if (value == (1 << i)) nibble = i;
  }
  if (nibble < 0) {
    Push(Done(item.line,
              "register " + std::to_string(counter) + " := " + std::to_string(value) + " (not a single latch strobe)"));
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

void InstrumentDecoder::Register5(const LinkItem& item) {
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

void InstrumentDecoder::EndRelay() {
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

void InstrumentDecoder::Register9(const LinkItem& item) {
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

void InstrumentDecoder::EndSelect(std::size_t line) {
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

void InstrumentDecoder::EndShift() {
  if (shift_bits_.size() != 16) {
    Push(Done(shift_line_, "converter word: " + std::to_string(shift_bits_.size()) + " bits shifted, 16 expected"));
    return;
  }
  int word = 0;
  for (int bit : shift_bits_) word = word * 2 + bit;
  const int target = shift_target_ == 1 ? 1 : shift_target_ == 2 ? 2 : 0;
  ConverterWord(shift_line_, target, word);
}

void InstrumentDecoder::ConverterWord(std::size_t line, int target, int word) {
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

void InstrumentDecoder::FlushConverter() {
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

void InstrumentDecoder::BusWrite(const LinkItem& item) {
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

void InstrumentDecoder::BusBit(int bit, std::size_t /*line*/) {
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

void InstrumentDecoder::EndBusTransaction(std::size_t /*line*/) {
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

void InstrumentDecoder::FlushEeprom() {
  if (!eeprom_address_) return;
  Push(Done(eeprom_line_,
            "EEPROM address pointer := " + Hex(static_cast<unsigned>(*eeprom_address_), 2) + " (no read followed)"));
  eeprom_address_.reset();
}

void InstrumentDecoder::EepromRead(std::size_t line, std::optional<int> address, const std::vector<int>& bytes,
                                   bool acknowledged) {
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
            Hex(static_cast<unsigned>(at(5)), 2) + ", serial number " + std::to_string(serial) + ", calibrated " + date;
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

}  // namespace ru3cli::trace::internal

#include "sim/instrument.h"

namespace ru3::sim {

void Dac::OnRegister9(std::uint8_t value) {
  const int sel = (value >> 2) & 3;
  const int channel = sel == 1 ? 0 : (sel == 2 ? 1 : -1);
  if (channel == selected_) return;
  if (selected_ >= 0 && bits_ > 0) codes_[static_cast<std::size_t>(selected_)] = shift_;
  selected_ = channel;
  shift_ = 0;
  bits_ = 0;
}

void Dac::OnRegister5(std::uint8_t old_value, std::uint8_t value) {
  if (selected_ < 0 || (old_value & 1) != 0 || (value & 1) == 0) return;
  shift_ = static_cast<std::uint16_t>(((shift_ << 1) | ((value >> 2) & 1)) & 0xFFF);
  ++bits_;
}

Instrument::Instrument(const SimConfig& config)
    : inputs_(front_end_, config.inputs, config.noise_seed),
      acquisition_(inputs_, config.variant == 0x11),
      eeprom_(Eeprom::FactoryImage(config)) {
  // The select lines of the converters power up deselected.
  for (auto& unit : units_) unit.regs[9] = 3;
}

void Instrument::WriteData(std::uint8_t value) {
  const std::uint8_t old = data_;
  data_ = value;
  // The sample lane steps on a falling clock (bit 7) addressed to unit 1 while
  // register 15 selects it.
  if ((old & 0x80) != 0 && (value & 0x80) == 0 && (value & 0x30) == 0x30 && units_[0].regs[15] == 3) {
    acquisition_.LaneStep();
  }
}

void Instrument::WriteControl(std::uint8_t value, std::uint64_t now) {
  const std::uint8_t rising = value & ~control_;
  control_ = value;
  if ((rising & 0x08) != 0) units_[UnitOf(data_)].address = data_ & 0x0F;
  if ((rising & 0x02) != 0) {
    const int unit = UnitOf(data_);
    WriteRegister(unit, units_[unit].address, data_ & 0x0F, now);
  }
}

void Instrument::WriteRegister(int unit, int r, std::uint8_t value, std::uint64_t now) {
  Unit& u = units_[unit];
  const std::uint8_t old = u.regs[static_cast<std::size_t>(r)];
  if (unit == 0) acquisition_.Advance(now);
  u.regs[static_cast<std::size_t>(r)] = value;
  if (r == 5) u.dac.OnRegister5(old, value);
  if (r == 9) u.dac.OnRegister9(value);
  if (observer_ != nullptr) Tell(unit, r, old, value);
  if (unit != 0) return;
  // The rate before the write, only for a listener to compare.
  const double rate_before = observer_ != nullptr ? acquisition_.SampleRateHz() : 0.0;

  switch (r) {
    case 1:
      acquisition_.Control(value, now);
      break;
    case 2:
    case 3:
    case 4:
      if (value != 0) acquisition_.StrobeCounter(r, value, u.regs[5], now);
      break;
    case 5:
      front_end_.OnRegister5(old, value, u.regs[8]);
      break;
    case 6:
      eeprom_.OnRegister6(value);
      break;
    case 7:
      acquisition_.SetClockSelect(value, now);
      break;
    case 9:
      front_end_.OnRegister9(old, value);
      break;
    case 10:
      acquisition_.SetSource(value, now);
      break;
    case 11:
      acquisition_.SetKind(value, now);
      break;
    case 12:
      front_end_.OnRegister12(old, value);
      break;
    case 13:
      acquisition_.SetMode(value, now);
      break;
    case 14:
      acquisition_.SetPrescaler(value);
      break;
    default:
      break;
  }
  // Only while the record runs in its own mode: the read-out's seek runs
  // the clock faster, after the record has ended.
  if (observer_ != nullptr && (u.regs[13] & 9) == 9 && acquisition_.State().running &&
      acquisition_.SampleRateHz() != rate_before) {
    observer_->RateChanged();
  }
}

void Instrument::Tell(int unit, int r, std::uint8_t old, std::uint8_t value) {
  if (r == 13 && (old & 8) == 0 && (value & 9) == 9) {
    observer_->RecordStarting(*this, unit);
  } else if (unit == 0 && r == 13 && (old & 9) == 9 && (value & 8) == 0 && acquisition_.State().running) {
    observer_->RecordCutShort();
  }
  if (r == 15 && value == 3) {
    observer_->LaneSelected(unit, unit == 0 && (acquisition_.State().half_steps != pointer_read_back_ || pointer_moving_));
  }
}

std::uint8_t Instrument::ReadBack(int r, std::uint64_t now) {
  const int previous = last_read_back_;
  last_read_back_ = r;
  switch (r) {
    case 0:
      acquisition_.Advance(now);
      pointer_read_back_ = acquisition_.State().half_steps;
      pointer_moving_ = pointer_moving_ || acquisition_.State().running;
      return static_cast<std::uint8_t>(acquisition_.WritePointer() & 0xFF);
    case 1:
      acquisition_.Advance(now);
      pointer_read_back_ = acquisition_.State().half_steps;
      // A pointer read starts with its high byte: whether the record ran
      // during any of its nibbles is counted afresh from here.
      pointer_moving_ = (previous == 1 && pointer_moving_) || acquisition_.State().running;
      return static_cast<std::uint8_t>(acquisition_.WritePointer() >> 8);
    case 2:
      acquisition_.Advance(now);
      return static_cast<std::uint8_t>(acquisition_.Status() | (eeprom_.DataLine() ? 0x10 : 0));
    default:
      return units_[0].regs[static_cast<std::size_t>(r)];
  }
}

std::uint8_t Instrument::ReadStatus(std::uint64_t now) {
  const int unit = UnitOf(data_);
  const int r = units_[unit].regs[15];
  const bool high = (data_ & 0x80) != 0;
  unsigned nibble = 0;
  if (unit == 0 && r == 3) {
    nibble = acquisition_.LaneNibble((data_ & 0x40) != 0 ? 0 : 1, high);
  } else {
    unsigned value = 0;
    if (unit == 0) {
      value = ReadBack(r, now);
    } else if (r > 3) {
      value = units_[unit].regs[static_cast<std::size_t>(r)];
    }
    nibble = high ? value >> 4 : value & 0x0F;
  }
  return static_cast<std::uint8_t>((nibble << 3) | 0x07);
}

void Instrument::SetSource(int ch, const SignalSource& source, std::uint64_t now) {
  acquisition_.Advance(now);
  inputs_.SetSource(ch, source);
}

}  // namespace ru3::sim

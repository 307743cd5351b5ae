#include "sim/eeprom.h"

namespace ru3::sim {

namespace {

void PutWord(std::array<std::uint8_t, 256>& m, int address, unsigned value) {
  m[static_cast<std::size_t>(address)] = static_cast<std::uint8_t>(value & 0xFF);
  m[static_cast<std::size_t>(address + 1)] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

}  // namespace

std::array<std::uint8_t, 256> Eeprom::FactoryImage(const SimConfig& config) {
  std::array<std::uint8_t, 256> m{};
  m.fill(0xFF);
  if (config.erased_eeprom) return m;
  m[1] = 0xAA;
  m[5] = config.variant;
  m[6] = static_cast<std::uint8_t>(config.serial & 0xFF);
  m[7] = static_cast<std::uint8_t>((config.serial >> 8) & 0xFF);
  m[8] = static_cast<std::uint8_t>((config.serial >> 16) & 0xFF);
  const CalibrationDate& d = config.calibration_date;
  PutWord(m, 10, static_cast<unsigned>(d.year));
  m[12] = static_cast<std::uint8_t>(d.month);
  m[13] = static_cast<std::uint8_t>(d.day);
  m[14] = static_cast<std::uint8_t>(d.hour);
  m[15] = static_cast<std::uint8_t>(d.minute);
  for (int r = 1; r <= kRangeCount; ++r) {
    const CalibrationCodes c1 = FactoryCalibration(1, r);
    const CalibrationCodes c2 = FactoryCalibration(2, r);
    PutWord(m, 52 + 2 * r, c1.gain);
    PutWord(m, 77 + 2 * r, c2.gain);
    PutWord(m, 102 + 2 * r, c1.offset);
    PutWord(m, 127 + 2 * r, c2.offset);
    m[static_cast<std::size_t>(151 + r)] = c1.trim_a;
    m[static_cast<std::size_t>(166 + r)] = c1.trim_b;
    m[static_cast<std::size_t>(181 + r)] = c2.trim_a;
    m[static_cast<std::size_t>(196 + r)] = c2.trim_b;
  }
  return m;
}

void Eeprom::OnRegister6(std::uint8_t value) {
  const bool buffer_on = (value & 0x08) != 0;
  const bool scl = !buffer_on || (value & 0x01) != 0;
  const bool sda = !(buffer_on && (value & 0x04) != 0) || (value & 0x02) != 0;
  // A falling clock is taken before a data change and a rising clock after
  // it, so that lines changed in one write never look like a start or stop.
  if (scl_ && !scl) {
    scl_ = false;
    OnClockFall();
  }
  if (sda != host_sda_) {
    const bool before = DataLine();
    host_sda_ = sda;
    const bool after = DataLine();
    if (scl_ && before != after) {
      if (after) {
        OnStop();
      } else {
        OnStart();
      }
    }
  }
  if (!scl_ && scl) {
    scl_ = true;
    OnClockRise();
  }
}

void Eeprom::OnStart() {
  state_ = State::kReceive;
  receiving_ = Receiving::kDeviceAddress;
  drive_low_ = false;
  shift_ = 0;
  bits_ = 0;
}

void Eeprom::OnStop() {
  state_ = State::kIdle;
  drive_low_ = false;
}

void Eeprom::OnClockRise() {
  if (state_ == State::kReceive) {
    shift_ = static_cast<std::uint8_t>((shift_ << 1) | (DataLine() ? 1 : 0));
    ++bits_;
  } else if (state_ == State::kAckIn) {
    master_ack_ = !DataLine();
  }
}

void Eeprom::LoadNextByte() {
  shift_ = memory_[pointer_];
  pointer_ = static_cast<std::uint8_t>(pointer_ + 1);
  bits_ = 0;
  state_ = State::kTransmit;
  drive_low_ = (shift_ & 0x80) == 0;
}

void Eeprom::OnClockFall() {
  switch (state_) {
    case State::kIdle:
      break;
    case State::kReceive:
      if (bits_ < 8) break;
      if (receiving_ == Receiving::kDeviceAddress) {
        if ((shift_ & 0xFE) != 0xA0) {
          state_ = State::kIdle;  // not ours: stay off the bus until the next start
          break;
        }
        read_ = (shift_ & 1) != 0;
      } else if (receiving_ == Receiving::kWordAddress) {
        pointer_ = shift_;
      } else {
        memory_[pointer_] = shift_;
        pointer_ = static_cast<std::uint8_t>(pointer_ + 1);
      }
      state_ = State::kAckOut;
      drive_low_ = true;
      break;
    case State::kAckOut:
      drive_low_ = false;
      if (read_) {
        LoadNextByte();
      } else {
        receiving_ = receiving_ == Receiving::kDeviceAddress ? Receiving::kWordAddress : Receiving::kData;
        state_ = State::kReceive;
        shift_ = 0;
        bits_ = 0;
      }
      break;
    case State::kTransmit:
      ++bits_;
      if (bits_ == 8) {
        drive_low_ = false;
        state_ = State::kAckIn;
      } else {
        drive_low_ = ((shift_ >> (7 - bits_)) & 1) == 0;
      }
      break;
    case State::kAckIn:
      if (master_ack_) {
        LoadNextByte();
      } else {
        state_ = State::kIdle;
      }
      break;
  }
}

}  // namespace ru3::sim

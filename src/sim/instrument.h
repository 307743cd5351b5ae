// The RU3 on the printer port: four units behind one set of port lines.
//
// The data byte carries a nibble in bits 0-3, the unit select in bits 4-5
// (0x30 unit 1, 0x20 unit 2, 0x10 unit 3, 0x00 unit 4), the lane select in
// bit 6 and the nibble select (and sample clock) in bit 7. The control port's
// select-in line (bit 3) is the address strobe, its auto-feed line (bit 1) the
// data strobe; each acts on its rising edge, so a write repeated with the same
// value (slow I/O) does nothing more. On the address strobe the addressed unit
// latches the nibble as its register number; on the data strobe it writes the
// nibble into that register. Only the unit whose select bits are on the data
// lines takes part, and only it drives the status lines.
//
// Unit 1 measures: acquisition, front end and EEPROM. Every unit has a
// two-channel 12-bit DAC on registers 5 and 9; register 10 of unit 4 drives
// the two motor outputs (bits 0 and 1).
//
// Read-back: register 15 selects what the unit shows; data bit 7 high shows
// the high nibble, low the low nibble, on status bits 3-6. Unit 1 shows the
// write pointer (0, 1), the status (2), the sample lane (3), and for any other
// register the value last written into it. The other units show 0 for
// registers 0-3 and the value last written otherwise. Status bits 0-2 read 1,
// bit 7 reads 0.
#pragma once

#include <array>
#include <cstdint>

#include "sim/acquisition.h"
#include "sim/eeprom.h"
#include "sim/front_end.h"
#include "sim/simulator.h"

namespace ru3::sim {

// A unit's two-channel DAC: register 9 = 7 selects channel 1, 11 channel 2
// (bits 3-2 = 01 or 10), anything else neither; register 5 bit 0 clocks
// (rising) bit 2 into a 12-bit shift register, MSB first; the code takes
// effect when the channel is deselected.
class Dac {
 public:
  void OnRegister9(std::uint8_t value);
  void OnRegister5(std::uint8_t old_value, std::uint8_t value);
  [[nodiscard]] std::uint16_t code(int ch) const { return codes_[static_cast<std::size_t>(ch)]; }

 private:
  std::array<std::uint16_t, 2> codes_{2048, 2048};
  std::uint16_t shift_ = 0;
  int bits_ = 0;
  int selected_ = -1;
};

class Instrument;

// What a test bench may follow of the records the units start and read out,
// told at those events (a few per record), never at a plain port access. The
// simulator's behaviour does not depend on whether anyone listens.
class InstrumentObserver {
 public:
  virtual ~InstrumentObserver() = default;
  // Unit `unit` (0..3; 0 measures) starts a record: register 13's run bit
  // rises with sample writing on, as arming writes it (the read-out's seek
  // writes nothing and is no record). Told before the write takes effect:
  // the instrument shows the set-up the record starts with.
  virtual void RecordStarting(const Instrument& /*instrument*/, int /*unit*/) {}
  // A register-13 write stops the measuring unit's running record before
  // its post-trigger count has ended it.
  virtual void RecordCutShort() {}
  // The measuring unit's sample clock changed its rate at a register write
  // while it ran in a record's own mode (not the read-out's faster seek).
  virtual void RateChanged() {}
  // Register 15 of unit `unit` selects the sample lane (one per channel a
  // read-out reads). `past_pointer` (the measuring unit only): the record has
  // gone on writing since the write pointer was last read back, or was
  // writing while it was read.
  virtual void LaneSelected(int /*unit*/, bool /*past_pointer*/) {}
};

class Instrument {
 public:
  explicit Instrument(const SimConfig& config);

  void WriteData(std::uint8_t value);
  void WriteControl(std::uint8_t value, std::uint64_t now);
  [[nodiscard]] std::uint8_t ReadStatus(std::uint64_t now);

  [[nodiscard]] std::uint8_t reg(int unit, int r) const { return units_[unit].regs[static_cast<std::size_t>(r)]; }
  [[nodiscard]] const Dac& dac(int unit) const { return units_[unit].dac; }
  [[nodiscard]] const FrontEnd& front_end() const { return front_end_; }
  [[nodiscard]] Eeprom& eeprom() { return eeprom_; }
  [[nodiscard]] const Eeprom& eeprom() const { return eeprom_; }
  [[nodiscard]] Acquisition& acquisition() { return acquisition_; }
  [[nodiscard]] const Acquisition& acquisition() const { return acquisition_; }
  // Changes an input signal at `now` (samples before keep the old signal).
  void SetSource(int ch, const SignalSource& source, std::uint64_t now);
  // Null: nobody listens.
  void SetObserver(InstrumentObserver* observer) { observer_ = observer; }

 private:
  struct Unit {
    std::array<std::uint8_t, 16> regs{};
    std::uint8_t address = 0;
    Dac dac;
  };

  // Index 0..3 of the unit the data byte addresses.
  static int UnitOf(std::uint8_t data) { return 3 - ((data >> 4) & 3); }
  void WriteRegister(int unit, int r, std::uint8_t value, std::uint64_t now);
  // Tells the observer what a register write starts, stops or selects.
  void Tell(int unit, int r, std::uint8_t old, std::uint8_t value);
  [[nodiscard]] std::uint8_t ReadBack(int r, std::uint64_t now);

  std::array<Unit, 4> units_{};
  std::uint8_t data_ = 0xFF;
  std::uint8_t control_ = 0x04;
  FrontEnd front_end_;
  AnalogInputs inputs_;
  Acquisition acquisition_;
  Eeprom eeprom_;
  InstrumentObserver* observer_ = nullptr;
  std::int64_t pointer_read_back_ = -1;  // the write pointer's half-steps when registers 0, 1 were last read back
  // The record ran during a nibble of the last write-pointer read: its
  // nibbles may come from different counts, so the value is no pointer.
  bool pointer_moving_ = false;
  int last_read_back_ = -1;  // the register of the last read-back nibble
};

}  // namespace ru3::sim

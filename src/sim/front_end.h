// The measuring unit's analog front end: input relays, trim converters and the
// two serial 14-bit converters, and the transfer from input volts to ADC codes
// that they set.
//
// Serial lines (all in register 5 unless said otherwise):
//
//   relay shift register   bit 3 clock (rising), bit 2 data; 8 bits, MSB first,
//                          the outputs follow the shift register directly.
//   trim converters        selected by register 9: bit 0 low = channel 1's,
//                          bit 1 low = channel 2's (3 = none); bit 0 clock
//                          (rising), bit 2 data; a 10-bit word (bits 9-8 the
//                          output, 00 or 01; bits 7-0 the value) takes effect
//                          when the select goes high again.
//   serial converters      bit 1 frame (active low), bit 0 clock (rising),
//                          bit 2 start (a falling edge restarts the bit count);
//                          register 8 bit 0/1 carries converter 1/2's data. A
//                          frame of exactly 16 bits is one word; both
//                          converters shift in every frame, so the one not
//                          addressed takes an all-zero word, which it ignores.
//                          Register 12 bit 0 rising copies the input registers
//                          to the outputs (the load line).
//
// Serial converter words, bits 15-14:
//   00  nothing
//   01  reset: input registers to mid-scale 0x2000, register pointer to 0
//   11  control: register pointer to bits 3-0 (0xC300: start at register 0)
//   10  data: bits 13-0 into the input register at the pointer, pointer + 1
// Register 0 sets the amplifier gain (the gain code p), register 1 takes the
// mean of gain and offset codes q, from which the converter pair derives the
// offset injection 2q - p. Registers 2..9 are not connected.
//
// Relay byte: channel 1 uses bits 0-3, channel 2 bits 4-7. Bit 0/4 is the
// coupling relay: set = DC coupling, clear = AC coupling (so the library's
// coupling code 1, which clears the bit, is AC and code 0 is DC). Of bits 1-3
// (5-7) the one that is low selects the attenuator: bit 1 (5) the 0.8 V
// group, bit 2 (6) the 8 V group, bit 3 (7) the 80 V group. With several low
// the least sensitive one wins; with none the input is disconnected.
//
// How the instrument knows the full scale: it does not know range numbers at
// all. The attenuator group gives 0.8, 8 or 80 V full scale at unity gain and
// the gain code p sets the amplifier's gain to about p / 1024 (1, 2, 4, 8 for
// the ranges inside a group). Each channel has attenuator errors per group, a
// gain-dependent amplifier error and input and output offsets; the factory
// codes of a range (p and trim A for the gain, the offset code and trim B for
// the offset) are computed against exactly these errors, so loading range r's
// codes makes the effective full scale r's nominal one and the offset zero.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/simulator.h"

namespace ru3::sim {

class FrontEnd {
 public:
  // Volts to codes for one channel: code = 2048 + codes_per_volt * v + offset_codes,
  // before rounding and clipping. AC coupling removes the signal's mean first.
  struct Transfer {
    double codes_per_volt = 0.0;
    double offset_codes = 0.0;
    bool dc = true;
  };

  FrontEnd();

  // Register side effects; `reg8` is the converter data register's value.
  void OnRegister5(std::uint8_t old_value, std::uint8_t value, std::uint8_t reg8);
  void OnRegister9(std::uint8_t old_value, std::uint8_t value);
  void OnRegister12(std::uint8_t old_value, std::uint8_t value);

  [[nodiscard]] const Transfer& transfer(int ch) const { return transfer_[ch]; }
  [[nodiscard]] std::uint8_t relay() const { return relay_; }
  [[nodiscard]] std::array<std::uint8_t, 2> trim_outputs(int ch) const { return trims_[ch].out; }
  [[nodiscard]] const std::vector<std::uint16_t>& converter_words(int ch) const { return converters_[ch].words; }
  [[nodiscard]] InputStageState State(int ch) const;

 private:
  struct TrimConverter {
    bool selected = false;
    std::uint16_t shift = 0;
    int bits = 0;
    std::array<std::uint8_t, 2> out{128, 128};
  };
  struct SerialConverter {
    std::uint16_t shift = 0;
    int pointer = 0;
    std::array<std::uint16_t, 10> input{};
    std::array<std::uint16_t, 10> output{};
    std::vector<std::uint16_t> words;
  };

  void TakeWord(SerialConverter& conv, std::uint16_t word);
  [[nodiscard]] int Group(int ch) const;
  [[nodiscard]] int TrimA(int ch) const;
  [[nodiscard]] int TrimB(int ch) const;
  void Recompute();

  std::uint8_t relay_ = 0;
  std::array<TrimConverter, 2> trims_{};
  std::array<SerialConverter, 2> converters_{};
  int converter_bits_ = 0;  // bits shifted in the current frame
  std::array<Transfer, 2> transfer_{};
};

}  // namespace ru3::sim

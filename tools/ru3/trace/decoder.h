// Port-trace decoding, layers 2 and 3: what the register traffic of one port
// means. Serial protocols carried by single register writes (counter loads,
// the EEPROM bus, converter, relay, trim and DAC words; serial.cpp) and
// sequences of plain register writes that form one action (decoder.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "trace.h"
#include "link.h"

namespace ru3cli::trace::internal {

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

int PrescalerOf(int code);

// Samples counted by counter 4 when loaded with w: w = 2 x (32768 - n) - 1.
long PostCount(int w);
std::string TriggerSourceName(int value);
std::string TriggerKindName(int value);
std::string StatusText(int value);

class InstrumentDecoder {
 public:
  InstrumentDecoder(std::uint16_t base, std::vector<Event>& events, PortSummary& summary, const DecodeOptions& options)
      : base_(base), events_(events), summary_(summary), options_(options) {}

  void Take(const LinkItem& item);

  void Finish();

 private:
  // --- Output -------------------------------------------------------------

  void Emit(std::size_t line, const std::string& text, bool detail = false);

  static Op Done(std::size_t line, std::string text);

  std::string UnitSuffix(std::uint8_t unit) const;

  // --- Register writes and reads -----------------------------------------

  void TakeWrite(const LinkItem& item);

  void TakeRead(const LinkItem& item);

  // --- Counter loads: register 5 carries bit address and data bit, the
  // strobe register one bit per nibble latch.

  void CounterStrobe(const LinkItem& item);

  // --- Register 5: the serial lines of every shift register -------------

  void Register5(const LinkItem& item);

  void EndRelay();

  // --- Register 9: trim converter and DAC selects ------------------------

  void Register9(const LinkItem& item);

  void EndSelect(std::size_t line);

  // --- Converter words (ShiftOut16) and converter loads --------------------

  void EndShift();

  void ConverterWord(std::size_t line, int target, int word);

  static std::string TargetName(int target) { return target == 0 ? "?" : std::to_string(target); }

  void FlushConverter();

  // --- The EEPROM's two-wire bus on register 6 ------------------------------

  void BusWrite(const LinkItem& item);

  void BusBit(int bit, std::size_t /*line*/);

  // A transaction ends at a stop or a new start; a partial byte (the clock
  // edge that leads into the stop) is not part of it.
  void EndBusTransaction(std::size_t /*line*/);

  void FlushEeprom();

  void EepromRead(std::size_t line, std::optional<int> address, const std::vector<int>& bytes, bool acknowledged);

  // --- Layer 3: sequences of plain operations -----------------------------

  void Push(Op op);

  static constexpr std::size_t kLongestPattern = 7;

  static bool IsWrite(const Op& op, int reg, int value = -1);

  // Tries the multi-step actions that end at the newest operation.
  void Match();

  std::string SamplesText(const Op& op) const;

  void EmitSampleCodes(const Op& op);

  void Replace(std::size_t count, const std::string& text);

  // Prints the oldest waiting operation on its own.
  void EmitFront();

  static std::string CounterText(const Op& op, const Op* next);

  std::string WriteText(const Op& op) const;

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

}  // namespace ru3cli::trace::internal

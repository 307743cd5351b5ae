// The measuring unit's sample memory: 32768 12-bit samples per channel, each
// converted when something reads it rather than when the acquisition writes
// it.
//
// A sample is a pure function of its write time and of the conditions then
// (the front end's transfer, the signal applied, the noise seed), so a write
// keeps only those; the first read of the cell converts it, with exactly the
// value converting at the write would have given. Most of a record's writes
// are overwritten or never read out (a record of 512 samples may be written
// over the whole ring while it waits for its trigger), and every conversion
// costs a sine and a Gaussian deviate per channel.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/front_end.h"
#include "sim/simulator.h"

namespace ru3::sim {

// What a channel's conversion depends on besides the time.
struct InputConditions {
  std::array<FrontEnd::Transfer, 2> transfer{};
  std::array<SignalSource, 2> source{};
  std::uint64_t seed = 0;
};

// The converter's code (0..4095, 2048 = 0 V) of channel 0/1 at t_ns, the
// channel's signal seen through its transfer.
std::uint16_t ConverterCode(const FrontEnd::Transfer& transfer, const SignalSource& source, int ch, std::uint64_t t_ns,
                            std::uint64_t seed);

class SampleRing {
 public:
  static constexpr int kSize = 32768;

  SampleRing();

  // The tag of writes under `conditions`, valid until the next call.
  std::uint16_t Conditions(const InputConditions& conditions);
  // Cell `address` (0..kSize-1) of both channels takes the samples of time
  // t_ns under the conditions of `tag`.
  void Write(std::size_t address, std::uint64_t t_ns, std::uint16_t tag) {
    pending_[address] = tag;
    time_[address] = t_ns;
  }

  [[nodiscard]] std::uint16_t Get(int ch, std::size_t address) const {
    if (pending_[address] != 0) Convert(address);
    return values_[ch][address];
  }

 private:
  static bool Same(const InputConditions& a, const InputConditions& b);
  void Convert(std::size_t address) const;
  void ConvertAll() const;

  mutable std::array<std::vector<std::uint16_t>, 2> values_;
  // Per cell: 0 when values_ holds its samples, else 1 + the index of its
  // write's conditions; time_ then holds the write time.
  mutable std::vector<std::uint16_t> pending_;
  std::vector<std::uint64_t> time_;
  std::vector<InputConditions> conditions_;
};

}  // namespace ru3::sim

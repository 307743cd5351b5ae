// Reading the ring memory into the channel buffers.
//
// When a measurement is complete the newest lPreSamples + lPostSamples samples
// of each measured channel lie in the instrument's ring memory (32768 samples
// per channel). The read-out finds them from the write pointer, seeks the read
// address there, and clocks the samples out one by one: data-port bit 7 is the
// read clock, bit 6 chooses the channel, and every sample arrives as three
// nibbles on status bits 3-6, inverted. While reading it folds the record into
// the running average and judges the level of each channel, which gives the
// auto-ranging step the next arming applies.
//
// This is the library's hot path: a full two-channel record is about half a
// million port accesses, so nothing here allocates and the per-sample loop
// does only the port accesses and a few bit operations.
#include <cmath>

#include "instrument/DUDA3.h"
#include "instrument/Registers.h"

namespace ru3 {

using namespace reg;

namespace {

// Sample-word limits of the level judgement: outside [kOverRangeLow,
// kOverRangeHigh] the input is over range; strictly inside (kMidBandLow,
// kMidBandHigh) on every sample it would fit a more sensitive range.
constexpr std::uint16_t kOverRangeLow = 0x0300;
constexpr std::uint16_t kOverRangeHigh = 0xFD00;
constexpr std::uint16_t kMidBandLow = 0x5400;
constexpr std::uint16_t kMidBandHigh = 0xAC00;

// Longest wait of a seek for the hardware to reach the start position.
constexpr std::uint32_t kSeekTimeOutMs = 1000;

// The record's position count lPreSamples + lPostSamples, kept inside the
// buffers even if the two ever disagree with the record length.
std::int32_t RecordPositions(std::int32_t pre, std::int32_t post) {
  const std::int64_t n = static_cast<std::int64_t>(pre) + post;
  if (n < 0) return 0;
  if (n > kMaxRecordLength) return kMaxRecordLength;
  return static_cast<std::int32_t>(n);
}

// Folds the record just read into the channel's running average, in single
// precision over positions 0..N inclusive: a = x / c + (c - 1) * A / c, so
// c = 1 restarts the average from the new record. The buffer receives the
// mean taken to the nearest integer, ties to even.
void AverageChannel(VOz3& instrument, int ch, std::int32_t positions) {
  if (instrument.nAverageNumber == 1) return;
  const float c = static_cast<float>(instrument.nCalculations < 1 ? 1 : instrument.nCalculations);
  const float c_minus_1 = c - 1.0F;
  std::uint16_t* const data = instrument.ChannelData(ch);
  float* const average = instrument.ChannelAverage(ch);
  for (std::int32_t i = 0; i <= positions; ++i) {
    const float x = static_cast<float>(data[i]);
    const float a = x / c + c_minus_1 * average[i] / c;
    average[i] = a;
    data[i] = static_cast<std::uint16_t>(std::lrintf(a));  // default rounding: ties to even
  }
}

// The auto-ranging step of a channel from the level flags of its read:
// a signal that stays in the middle band fits the next more sensitive range,
// one that reaches the ends needs the next less sensitive one.
void JudgeRange(VOz3& instrument, int ch) {
  const auto idx = static_cast<std::size_t>(ch);
  if (instrument.abInMidBand[idx] && instrument.awRange[idx] > 1) instrument.anRangeStep[idx] = -1;
  if (instrument.abOverRange[idx] && instrument.awRange[idx] < instrument.nNrRanges) instrument.anRangeStep[idx] = +1;
}

}  // namespace

std::int32_t VOz3::ReadWritePointer() {
  // The instrument reports a 16-bit count; the newest sample lies at
  // 32765 - (count >> 1), modulo the ring size.
  const std::int32_t hi = ReadReg(kRegWritePointerHigh);
  const std::int32_t lo = ReadReg(kRegWritePointerLow);
  const std::int32_t p = ((hi << 8) + lo) >> 1;
  std::int32_t w = kWritePointerTop - p;
  if (w < 0) w += MemorySize;
  return w;
}

long double VOz3::RecordSensitivity(int ch) const {
  // awRecordRange holds ranges the front end was programmed with (1..12).
  if (ch != 1 && ch != 2) return Sensitivity(ch);
  return arRanges[awRecordRange[static_cast<std::size_t>(ch)]];
}

void VOz3::ReadOut() {
  if (!bInstrumentOpen) return;
  abOverRange[1] = abOverRange[2] = false;
  abInMidBand[1] = abInMidBand[2] = true;

  std::uint16_t status = ReadReg(kRegStatus);
  bReadyAtReadOut = (status & kStatusBusy) == 0;
  if (!bReadyAtReadOut) {
    // A record still running (a host that fetches before it is ready) is
    // stopped before its write pointer is read, as the seek would stop it a
    // moment later. Running, its count moves while it is read nibble by
    // nibble, and the address reset or seek that follows moves the counter
    // it writes by: the record read would hold cells it never wrote.
    // Stopped, it is the record as far as it went.
    Reg(kRegAcqMode, kAcqStop);
    status = ReadReg(kRegStatus);
  }
  const bool wrapped = (status & kStatusWrapped) != 0;
  bRingWrapped = wrapped;
  const std::int32_t w = ReadWritePointer();
  const std::int32_t positions = RecordPositions(lPreSamples, lPostSamples);
  std::int32_t n = positions;
  std::int32_t s = w - n;
  if (wrapped) {
    if (s < 0) s += MemorySize;
  } else if (s < 0) {
    // The ring has not been filled yet: read only what was written so far;
    // the leading positions of the record keep the no-sample fill.
    n = w;
    s = 0;
  }

  anRangeStep[1] = anRangeStep[2] = 0;

  auto read_channel = [&](int ch) {
    ReadSamples(ch, s, n);
    awRecordRange[static_cast<std::size_t>(ch)] = AddressedFrontEnd()[static_cast<std::size_t>(ch)];
  };
  switch (mMeasureMode) {
    case TMeasureMode::mCh1:
      read_channel(1);
      AverageChannel(*this, 1, positions);
      JudgeRange(*this, 1);
      break;
    case TMeasureMode::mCh2:
      read_channel(2);
      AverageChannel(*this, 2, positions);
      JudgeRange(*this, 2);
      break;
    case TMeasureMode::mCh12:
    case TMeasureMode::mXY:
      read_channel(1);
      read_channel(2);
      AverageChannel(*this, 1, positions);
      AverageChannel(*this, 2, positions);
      JudgeRange(*this, 1);
      JudgeRange(*this, 2);
      break;
    default:
      // Channels this instrument does not have: nothing is read.
      break;
  }
  // A channel the mode leaves out keeps its buffer and the range of the
  // record it holds (awRecordRange): a host that alternates between the
  // channels reads each one's latest record, in its own volts.
  NoteRecordRead(*this, status);
}

void VOz3::ReadSamples(int ch, std::int32_t start, std::int32_t count) {
  if (!bHardwareAvailable) return;
  const std::int32_t n = RecordPositions(lPreSamples, lPostSamples);
  std::uint16_t* const buffer = ChannelData(ch);
  for (std::int32_t i = 0; i <= n; ++i) buffer[i] = kIdleFill;

  if (start == 0) {
    // Read address to the start of the memory.
    Reg(kRegStrobe, kStrobeResetAddress);
    Reg(kRegStrobe, kStrobeNone);
  } else {
    ArmAndWait(start);
  }

  abOverRange[ch] = false;
  abInMidBand[ch] = true;

  // Read-back select: the sample lane.
  Reg(kRegAcqMode, kAcqReadOut);
  Reg(kRegRun, kRunReadOut);
  Reg(kRegReadBackSelect, kReadBackSampleLane);

  // Data-port bytes: bit 7 is the read clock (H high, L low), bit 6 selects
  // the channel (1 = channel 1).
  const std::uint8_t idle = DataIdleByte();
  const std::uint8_t high = ch == 2 ? static_cast<std::uint8_t>(idle & ~kDataLaneCh1) : idle;
  const std::uint8_t low = ch == 2 ? static_cast<std::uint8_t>(idle & ~(kDataLaneCh1 | kDataReadClock))
                                   : static_cast<std::uint8_t>(idle & ~kDataReadClock);
  const auto data_port = static_cast<std::uint16_t>(nHardwareAddress);
  const auto status_port = static_cast<std::uint16_t>(data_port + kStatusPortOffset);
  platform::Backend& port = platform::CurrentBackend();
  const bool slow = bSlowIO;

  auto out = [&](std::uint8_t value) {
    port.Out(data_port, value);
    if (slow) port.Out(data_port, value);
  };
  auto in = [&]() -> std::uint32_t {
    if (slow) (void)port.In(status_port);
    return port.In(status_port);
  };

  // Priming: the lane's pipeline is clocked before the first sample; once
  // more after the address reset.
  const int priming = start == 0 ? 3 : 2;
  for (int i = 0; i < priming; ++i) {
    out(high);
    out(low);
  }

  // An input-channel trigger is registered two samples after the crossing,
  // so those reads land two positions later; external and untriggered
  // acquisitions have no such latency.
  const std::int32_t offset =
      (tsEffectiveTrigSource == TTrigSource::tsExternal || tsEffectiveTrigSource == TTrigSource::tsNoTrig) ? 0 : 2;

  // Reads that fall before position 0 are taken from the lane and dropped.
  // After an address reset the first read is the ring cell before address 0:
  // unless the ring has wrapped it holds a sample of an earlier record, so its
  // position keeps the no-sample fill and it is not judged.
  const std::int32_t first = n - count - 2 + offset;
  const std::int32_t stale = start == 0 && !bRingWrapped ? 1 : 0;
  const std::int32_t keep_from = first + stale > 0 ? first + stale : 0;
  const std::int32_t last = n - 1 + offset;
  Extension.lFirstStored = keep_from;
  bool over_range = false;
  bool in_mid_band = true;
  for (std::int32_t i = first; i <= last; ++i) {
    out(low);
    const std::uint32_t s1 = in();
    out(high);
    const std::uint32_t s2 = in();
    out(low);
    out(high);
    const std::uint32_t s3 = in();
    const std::uint32_t code = (((s1 << 1) & 0x0F0) | ((s2 << 5) & 0xF00) | ((s3 >> 3) & 0x00F)) ^ 0xFFF;
    if (i < keep_from) continue;
    const auto word = static_cast<std::uint16_t>(code << 4);
    buffer[i] = word;
    // A word over range lies outside the middle band too: a signal that
    // overdrives even the least sensitive range must not be stepped down.
    if (word <= kMidBandLow || word >= kMidBandHigh) {
      in_mid_band = false;
      if (word > kOverRangeHigh || word < kOverRangeLow) over_range = true;
    }
  }
  if (over_range) abOverRange[ch] = true;
  if (!in_mid_band) abInMidBand[ch] = false;

  Reg(kRegAcqMode, kAcqStop);
  Reg(kRegRun, kRunIdle);
}

void VOz3::ArmAndWait(std::int32_t start) {
  // Lets the acquisition hardware run `start` positions from the memory start,
  // which leaves the read address there.
  SetPostTriggerCounter(start);
  Reg(kRegRun, kRunIdle);
  Reg(kRegClockSelect, static_cast<std::uint16_t>(ClockSelectBits + kClockSeek));
  Reg(kRegAcqMode, kAcqStop);
  Reg(kRegStrobe, kStrobeSeek);
  Reg(kRegStrobe, kStrobeNone);
  Reg(kRegAcqMode, kAcqSeek);
  // At most 1000 ms; the unsigned difference is right across the tick wrap.
  const std::uint32_t begin = TickCount();
  while (!IsReady()) {
    if (static_cast<std::uint32_t>(TickCount() - begin) > kSeekTimeOutMs) break;
  }
  Reg(kRegAcqMode, kAcqStop);
  Reg(kRegClockSelect, static_cast<std::uint16_t>(ClockSelectBits + kClockRun));
}

}  // namespace ru3

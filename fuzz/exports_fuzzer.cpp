// Plays random sequences of exported calls with random arguments against the
// simulated instrument: NaN, infinities, negative and huge counts, null
// pointers, channels 0..255, calls before opening and after closing, and
// time passing for the poll timer. The library must neither crash nor trip a
// sanitizer, and after every call what it answered and what it did to the
// instrument must agree with what the simulated PC saw (truth.h).
//
// Each input starts from a closed library and a new simulated PC whose time
// runs only with the port accesses, delays and the ticks the input asks for:
// the fuzz build's poll timer ticks only when told (manual_poll_timer.h), so
// a run repeats exactly and never waits for real time. The only bounds the
// harness puts on the host are where the library itself would legitimately
// wait: a synchronous measure is made only while the record at the current
// sample rate takes a short time and the trigger time-out is finite and at
// most the default second, since a host that asks for a 30-minute record or
// an endless wait for a trigger gets exactly that; and an input waits for at
// most two seconds of simulated time in all (kWaitBudgetNs).
#include <fuzzer/FuzzedDataProvider.h>

#include <cfenv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>

#include "host_inputs.h"
#include "manual_poll_timer.h"
#include "served_memory_image.h"
#include "platform/host.h"
#include "ru3/ru3.h"
#include "sim/simulator.h"
#include "truth.h"

namespace {

using namespace ru3::fuzz;

constexpr int kMaxCalls = 64;
// The opening byte: bit 0 opens the instrument; bits 0 and 3 both set open it
// with auto-ranging on (no regression input had them both before they meant
// that).
constexpr std::uint8_t kOpen = 0x01;
constexpr std::uint8_t kOpenAutoRanging = 0x09;
constexpr double kMaxMeasureSeconds = 0.02;
// Simulated time an input may spend waiting (time passing for the timer,
// synchronous measures): enough, after the half second an opening's
// identification waits, for a synchronous measure with the default trigger
// time-out (so the search reaches StartMeasurement right after timer-driven
// measuring without first shortening the time-out) and the records around
// it; past it a wait is cut short and a synchronous measure is not made. A second of simulated waiting costs tens of milliseconds of
// real time (every sample of both channels is simulated, and a synchronous
// measure polls the instrument all the while), and an input that keeps
// waiting teaches the search nothing a shorter one does not.
constexpr std::uint64_t kWaitBudgetNs = 2'000'000'000;

// Whether a synchronous measure would end soon (see the file comment), and
// within the simulated time left to the input.
bool MeasureEndsSoon(const ru3::sim::SimulatedPc& pc) {
  const double rate = GetSampleFrequencyF();
  const std::int32_t timeout = GetTriggerTimeOut();
  const std::int32_t length = GetRecordLength();
  if (!(rate > 0.0) || timeout < 0 || timeout > 1000) return false;
  const double seconds = static_cast<double>(length) / rate;
  if (!(seconds < kMaxMeasureSeconds)) return false;
  const double longest_ns = (timeout / 1e3 + seconds) * 1e9;
  return static_cast<double>(pc.NowNs()) + longest_ns <= static_cast<double>(kWaitBudgetNs);
}

// The actions below: 0..63 exports, 64 time passing, 65 the host's
// floating-point environment. Half of the choices go to the ones that
// measure, set up a measurement or read it, so that the sequences that
// matter (open, set, arm, wait, read, set again, arm again) come often.
int Action(FuzzedDataProvider& in) {
  static constexpr int kMeasuring[] = {0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 13, 14, 16, 17, 18, 19, 21,
                                       26, 27, 28, 30, 33, 37, 58, 59, 64, 64, 64, 65};
  const std::uint8_t choice = in.ConsumeIntegral<std::uint8_t>();
  if (choice < 128) return kMeasuring[choice % std::size(kMeasuring)];
  return choice % 66;
}

class Player {
 public:
  Player(FuzzedDataProvider& in, Buffers& b, ru3::sim::SimulatedPc& pc, Truth& truth)
      : in_(in), b_(b), pc_(pc), truth_(truth) {}

  void Step();

 private:
  // A getter's answer: a status, and outputs untouched when it is an error.
  template <typename T>
  void Got(std::uint16_t status, const T& value) {
    ExpectUntouched(Status(status), value);
  }
  void Done(HostAct act = HostAct::kOther, std::uint16_t status = RU3_OK) { truth_.After(act, status); }
  void Call(std::uint16_t status) {
    Status(status);
    Done();
  }
  // Ticks of the poll timer, one a millisecond of simulated time.
  void Wait(int ms);
  // The tick a host's timer gives between two calls once a millisecond has
  // passed (port traffic takes time): the timer as the host sees it.
  void TickIfDue();
  void CheckRecord(std::uint16_t status, int ch, const std::vector<std::uint16_t>& words) {
    if (status == RU3_OK) truth_.CheckRaw(ch, 0, words.data(), Held());
  }
  void CheckRecord(std::uint16_t status, int ch, const std::vector<double>& volts) {
    if (status == RU3_OK) truth_.CheckVolts(ch, 0, volts.data(), Held());
  }

  FuzzedDataProvider& in_;
  Buffers& b_;
  ru3::sim::SimulatedPc& pc_;
  Truth& truth_;
  std::uint64_t last_tick_ms_ = 0;
};

void Player::TickIfDue() {
  const std::uint64_t now_ms = pc_.NowNs() / 1'000'000;
  if (now_ms == last_tick_ms_) return;
  last_tick_ms_ = now_ms;
  const std::uint64_t accesses = pc_.AccessCount();
  truth_.Before();
  TickPollTimers();
  if (pc_.AccessCount() != accesses) Done(HostAct::kTimerTick);
}

void Player::Wait(int ms) {
  // A wait ends early once the timer has measured a few records: a second of
  // timer-driven measuring is hundreds of records, all alike.
  constexpr std::uint64_t kMaxRecords = 2;
  const std::uint64_t records = truth_.Records().records;
  for (int i = 0; i < ms && truth_.Records().records - records < kMaxRecords && pc_.NowNs() < kWaitBudgetNs; ++i) {
    pc_.AdvanceTime(1'000'000);
    last_tick_ms_ = pc_.NowNs() / 1'000'000;
    const std::uint64_t accesses = pc_.AccessCount();
    truth_.Before();
    TickPollTimers();
    // A tick that touched no port changed nothing the checks could see.
    if (pc_.AccessCount() != accesses) Done(HostAct::kTimerTick);
  }
}


void Player::Step() {
  FuzzedDataProvider& in = in_;
  Buffers& b = b_;
  std::uint8_t u8 = Untouched<std::uint8_t>();
  std::uint16_t u16 = Untouched<std::uint16_t>();
  std::uint16_t u16b = Untouched<std::uint16_t>();
  std::uint32_t u32 = Untouched<std::uint32_t>();
  std::int32_t i32 = Untouched<std::int32_t>();
  double d = Untouched<double>();
  double d2 = Untouched<double>();
  std::uint16_t rc = 0;
  MarkUntouched(b.raw1);
  MarkUntouched(b.raw2);
  MarkUntouched(b.volts1);
  MarkUntouched(b.volts2);
  TickIfDue();
  const int action = Action(in);
  static const bool print = std::getenv("RU3_FUZZ_PRINT") != nullptr;
  if (print) std::fprintf(stderr, "step: action %d (%zu bytes left)\n", action, in.remaining_bytes());
  if (action == 64) {
    // Short waits, or as long as the default trigger time-out and more.
    static constexpr int kLong[] = {100, 250, 500, 1000, 1100, 2000};
    Wait(in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(1, 64) : kLong[in.ConsumeIntegralInRange<int>(0, 5)]);
    return;
  }
  if (action == 65) {
    SetHostFloatingPoint(in);
    return;
  }
  truth_.Before();
  switch (action) {
    case 0:
      rc = Status(InitInstrument(in.ConsumeIntegral<std::uint32_t>()));
      Done(HostAct::kInit, rc);
      break;
    case 1:
      Status(ExitInstrument());
      Done(HostAct::kExit);
      break;
    case 2:
      if (MeasureEndsSoon(pc_)) {
        Status(StartMeasurement());
        Done(HostAct::kMeasure);
      } else {
        Done();
      }
      break;
    case 3:
      rc = Status(ADC_Start());
      Done();
      break;
    case 4:
      for (int i = in.ConsumeIntegralInRange<int>(0, 200); i > 0 && ADC_Ready() == 0; --i) {
      }
      Done();
      break;
    case 5:
      Status(ADC_Abort());
      ADC_Running();
      ADC_Triggered();
      Done();
      break;
    case 6:
      Call(ADC_ForceTrig());
      break;
    case 7: {
      const auto mode = static_cast<std::int32_t>(Count(in));
      rc = Status(DoMeasure(mode));
      Done(rc != RU3_OK ? HostAct::kOther : mode == 0 ? HostAct::kStopMeasuring : HostAct::kStartMeasuring, rc);
      break;
    }
    case 8:
      rc = Status(GetMeasurement(Or(in, b.volts1), Or(in, b.volts2)));
      Done();
      ExpectUntouched(rc, b.volts1);
      ExpectUntouched(rc, b.volts2);
      CheckRecord(rc, 1, b.volts1);
      CheckRecord(rc, 2, b.volts2);
      break;
    case 9:
      rc = Status(GetMeasurementRaw(Or(in, b.raw1), Or(in, b.raw2)));
      Done();
      ExpectUntouched(rc, b.raw1);
      ExpectUntouched(rc, b.raw2);
      CheckRecord(rc, 1, b.raw1);
      CheckRecord(rc, 2, b.raw2);
      break;
    case 10: {
      const auto index = static_cast<std::int32_t>(Count(in));
      rc = Status(GetOneMeasurement(index, Or(in, d), Or(in, d2)));
      Done();
      Got(rc, d);
      Got(rc, d2);
      if (rc == RU3_OK) {
        truth_.CheckVolts(1, index, &d, 1);
        truth_.CheckVolts(2, index, &d2, 1);
      }
      break;
    }
    case 11: {
      const auto index = static_cast<std::int32_t>(Count(in));
      rc = Status(GetOneMeasurementRaw(index, Or(in, u16), Or(in, u16b)));
      Done();
      Got(rc, u16);
      Got(rc, u16b);
      if (rc == RU3_OK) {
        truth_.CheckRaw(1, index, &u16, 1);
        truth_.CheckRaw(2, index, &u16b, 1);
      }
      break;
    }
    case 12: {
      const std::uint32_t ch = Count(in);
      const auto index = static_cast<std::int32_t>(Count(in));
      rc = Status(GetOneMeasurementRawCh(ch, index, Or(in, u16)));
      Done();
      Got(rc, u16);
      if (rc == RU3_OK) truth_.CheckRaw(static_cast<int>(ch & 0xFFFF), index, &u16, 1);
      break;
    }
    case 13:
      rc = Status(ADC_GetData(Or(in, b.raw1), Or(in, b.raw2)));
      Done(HostAct::kFetch);
      ExpectUntouched(rc, b.raw1);
      ExpectUntouched(rc, b.raw2);
      CheckRecord(rc, 1, b.raw1);
      CheckRecord(rc, 2, b.raw2);
      break;
    case 14:
      rc = Status(ADC_GetDataVolt(Or(in, b.volts1), Or(in, b.volts2)));
      Done(HostAct::kFetch);
      ExpectUntouched(rc, b.volts1);
      ExpectUntouched(rc, b.volts2);
      CheckRecord(rc, 1, b.volts1);
      CheckRecord(rc, 2, b.volts2);
      break;
    case 15: {
      const std::uint32_t ch = Count(in);
      rc = Status(ADC_GetDataCh(ch, Or(in, b.raw1)));
      Done(HostAct::kFetch);
      ExpectUntouched(rc, b.raw1);
      CheckRecord(rc, static_cast<int>(ch & 0xFFFF), b.raw1);
      break;
    }
    case 16: {
      const std::uint32_t ch = Count(in);
      rc = Status(ADC_GetDataVoltCh(ch, Or(in, b.volts1)));
      Done(HostAct::kFetch);
      ExpectUntouched(rc, b.volts1);
      CheckRecord(rc, static_cast<int>(ch & 0xFFFF), b.volts1);
      break;
    }
    case 17:
      Status(SetMeasureMode(Count(in)));
      Got(GetMeasureMode(Or(in, u8)), u8);
      Done();
      break;
    case 18:
      Status(SetRecordLength(Count(in)));
      GetRecordLength();
      Done();
      break;
    case 19:
      Status(SetPostSamples(Count(in)));
      GetPostSamples();
      Done();
      break;
    case 20:
      u32 = Count(in);
      Status(SetSampleFrequency(Or(in, u32)));
      GetSampleFrequency();
      Done();
      break;
    case 21:
      d = Value(in);
      Status(SetSampleFrequencyF(Or(in, d)));
      GetSampleFrequencyF();
      Done();
      break;
    case 22:
      Status(SetResolution(Count(in)));
      Got(GetResolution(Or(in, u8)), u8);
      Done();
      break;
    case 23:
      Status(SetExternalClock(Count(in)));
      // Answers "off" also when it refuses, as hosts expect.
      Status(GetExternalClock(Or(in, u16)));
      Done();
      break;
    case 24:
      Status(SetInstrumentConfig(Count(in)));
      Got(GetInstrumentConfig(Or(in, u16)), u16);
      Done();
      break;
    case 25:
      Status(SetTransferMode(Count(in)));
      Got(GetTransferMode(Or(in, u32)), u32);
      Done();
      break;
    case 26: {
      d = Value(in);
      const std::uint32_t ch = Channel(in);
      if (Status(SetSensitivity(ch, Or(in, d))) == RU3_OK) truth_.RangeChosen(ch & 0xFF);
      d = Untouched<double>();
      Got(GetSensitivity(Channel(in), Or(in, d)), d);
      Done(HostAct::kRangeSetting);
      break;
    }
    case 27:
      Status(SetAutoRanging(Channel(in), Count(in)));
      Got(GetAutoRanging(Channel(in), Or(in, u8)), u8);
      Done(HostAct::kRangeSetting);
      break;
    case 28:
      Status(SetCoupling(Channel(in), Count(in)));
      Got(GetCoupling(Channel(in), Or(in, u8)), u8);
      Done();
      break;
    case 29:
      Status(SetDcLevel(Channel(in), Value(in)));
      Got(GetDcLevel(Channel(in), Or(in, d)), d);
      Done();
      break;
    case 30:
      Status(SetTriggerSource(Count(in)));
      Got(GetTriggerSource(Or(in, u8)), u8);
      Done();
      break;
    case 31:
      Status(SetTriggerMode(Count(in)));
      Got(GetTriggerMode(Or(in, u8)), u8);
      Done();
      break;
    case 32:
      Status(SetTriggerModeCh(Channel(in), Count(in)));
      Got(GetTriggerModeCh(Channel(in), Or(in, u8)), u8);
      Done();
      break;
    case 33:
      Status(SetTriggerLevel(Channel(in), Value(in)));
      Got(GetTriggerLevel(Channel(in), Or(in, d)), d);
      Done();
      break;
    case 34:
      Status(SetTriggerHys(Channel(in), Value(in)));
      Got(GetTriggerHys(Channel(in), Or(in, d)), d);
      Done();
      break;
    case 35:
      Status(SetPXITriggerSlopes(Count(in)));
      Got(GetPXITriggerSlopes(Or(in, u8)), u8);
      Done();
      break;
    case 36:
      Status(SetPXITriggerEnables(Count(in)));
      Got(GetPXITriggerEnables(Or(in, u8)), u8);
      Done();
      break;
    case 37:
      Status(SetTriggerTimeOut(Count(in)));
      GetTriggerTimeOut();
      Done();
      break;
    case 38:
      Got(GetCalibrationDate(Or(in, i32)), i32);
      i32 = Untouched<std::int32_t>();
      Got(GetSerialNumber(Or(in, i32)), i32);
      Done();
      break;
    case 39:
      rc = Status(GetAvailableResolutions(Or(in, b.volts1)));
      ExpectUntouched(rc, b.volts1);
      rc = Status(GetAvailableSensitivities(Or(in, b.volts2)));
      ExpectUntouched(rc, b.volts2);
      Done();
      break;
    case 40:
      u32 = Count(in);
      Status(SetSquareWaveGenFrequency(Or(in, u32)));
      GetSquareWaveGenFrequency();
      Done();
      break;
    case 41:
      d = Value(in);
      Status(SetFuncGenFrequency(Or(in, d)));
      d = Untouched<double>();
      Got(GetFuncGenFrequency(Or(in, d)), d);
      Done();
      break;
    case 42:
      Status(SetFuncGenAmplitude(Value(in)));
      Got(GetFuncGenAmplitude(Or(in, d)), d);
      Got(GetFuncGenMaxAmplitude(Or(in, d2)), d2);
      Done();
      break;
    case 43:
      Status(SetFuncGenSignalType(Count(in)));
      Got(GetFuncGenSignalType(Or(in, u16)), u16);
      Done();
      break;
    case 44:
      Status(SetFuncGenDCOffset(Value(in)));
      Got(GetFuncGenDCOffset(Or(in, d)), d);
      Done();
      break;
    case 45:
      Status(SetFuncGenSymmetry(Value(in)));
      Got(GetFuncGenSymmetry(Or(in, d)), d);
      Done();
      break;
    case 46:
      Status(SetFuncGenOutputOn(Count(in)));
      Status(GetFuncGenOutputOn(Or(in, u16)));  // "off" also when it refuses
      Done();
      break;
    case 47: {
      // The host's buffer holds `count` samples, as the contract asks.
      const std::uint32_t count = in.ConsumeIntegralInRange<std::uint32_t>(0, kBuffer);
      Status(FillFuncGenMemory(in.ConsumeBool() ? count : Count(in) & 0xFFFF, Or(in, b.raw1)));
      Call(FuncGenBurst(Count(in)));
      break;
    }
    case 48:
      Status(SetFuncGenTrigSource(Count(in)));
      Got(GetFuncGenTrigSource(Or(in, u8)), u8);
      Done();
      break;
    case 49:
      Status(SetFuncGenMode(Count(in)));
      Call(GetFuncGenMode(Count(in)));
      break;
    case 50:
      Status(SetFuncGenEnable(Count(in)));
      Status(GetFuncGenEnable(Or(in, u16)));  // "off" also when it refuses
      Done();
      break;
    case 51:
      Status(SetFuncGenAmplitudeRange(Count(in)));
      Call(GetFuncGenAmplitudeRange(Count(in)));
      break;
    case 52:
      Status(SetDigitalOutputs(Count(in)));
      Call(GetDigitalOutputs(Count(in)));
      break;
    case 53:
      rc = Status(GetDigitalInputValues(Or(in, b.raw1)));
      ExpectUntouched(rc, b.raw1);
      Got(GetOneDigitalValue(Count(in), Or(in, u16)), u16);
      Done();
      break;
    case 54:
      Status(SetupOhmMeasurements(Count(in)));
      Call(GetOhmValues(Count(in), Count(in)));
      break;
    case 55:
      Status(I2CWrite(Count(in), Count(in), Count(in)));
      Call(I2CRead(Count(in), Count(in), Count(in)));
      break;
    case 56:
      Status(I2CWriteNoStop(Count(in), Count(in), Count(in)));
      Call(I2CReadNoStop(Count(in), Count(in), Count(in)));
      break;
    case 57:
      Status(I2CSetSpeed(Count(in)));
      Call(I2CGetSpeed(Count(in)));
      break;
    case 58:
      rc = Status(SetActiveRU3(Count(in)));
      Got(GetActiveRU3(Or(in, u8)), u8);
      Done(rc == RU3_OK ? HostAct::kSelectUnit : HostAct::kOther);
      break;
    case 59: {
      d = Value(in);
      d2 = Value(in);
      rc = Status(SetDAC7394(d, d2));
      Done();
      if (rc == RU3_OK) CheckDac(pc_, d, d2);
      break;
    }
    case 60:
      Call(SetMotorOn(Count(in), Count(in)));
      break;
    case 61:
      GetMaxSampleFrequency();
      GetMaxSampleFrequencyF();
      GetMaxRecordLength();
      Done();
      break;
    case 62:
      Status(GetSquareWaveGenStatus());
      Status(GetFunctionGenStatus());
      GetDCLevelStatus();
      Got(GetNrChannels(Or(in, u16)), u16);
      Done();
      break;
    default:
      Status(SetDataReadyCallback(Count(in)));
      Call(SetDataReadyEvent(Count(in)));
      break;
  }
}

// The simulated PC of every input: noisy inputs so that records differ, and
// time decoupled from the wall clock so that a run repeats exactly.
ru3::sim::SimConfig FuzzConfig() {
  ru3::sim::SimConfig config;
  // 8 V: the default trigger (0 V, rising, 10 codes of hysteresis on the
  // 80 V range) fires, and auto-ranging has steps to take both ways.
  config.inputs[0] = {ru3::sim::Shape::kSine, 8.0, 1000.0, 0.0, 0.01};
  config.inputs[1] = {ru3::sim::Shape::kSquare, 0.5, 250.0, 0.0, 0.01};
  config.wall_clock_coupling = false;
  return config;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // Notices (no instrument found, ...) would flood the output.
  ru3::platform::SetMessageSink([](const std::string&) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Buffers buffers;
  static const ru3::sim::SimConfig config = FuzzConfig();
  auto owned = std::make_unique<ServedImagePc>(config);
  ru3::sim::SimulatedPc& pc = *owned;
  ru3::platform::ReplaceBackend(std::move(owned));
  Truth truth(pc);

  FuzzedDataProvider in(data, size);
  Player player(in, buffers, pc, truth);
  SetHostFloatingPoint(in);
  // The opening. A quarter of the inputs that open also switch auto-ranging
  // on for both channels, as a host does that lets the library choose its
  // ranges (opening leaves it off): their sequences around a read-out then
  // meet auto-ranging steps without a call of their own to switch it on.
  const std::uint8_t opening = in.ConsumeIntegral<std::uint8_t>();
  if ((opening & kOpen) != 0) {
    truth.Before();
    truth.After(HostAct::kInit, Status(InitInstrument(0)));
  }
  if ((opening & kOpenAutoRanging) == kOpenAutoRanging && truth.Open()) {
    truth.Before();
    Status(SetAutoRanging(1, 1));
    Status(SetAutoRanging(2, 1));
    truth.After(HostAct::kRangeSetting);
  }
  for (int i = 0; i < kMaxCalls && in.remaining_bytes() > 0; ++i) player.Step();
  truth.Before();
  truth.After(HostAct::kStopMeasuring, Status(DoMeasure(0)));
  truth.Before();
  Status(ExitInstrument());
  truth.After(HostAct::kExit);
  if (truth.SelectedUnit()) {
    // Whatever unit the host left selected, the library opens again.
    truth.Before();
    truth.After(HostAct::kInit, Status(InitInstrument(0)));
    truth.Before();
    Status(ExitInstrument());
    truth.After(HostAct::kExit);
  }
  // Everything the input allocated is given back before it ends: libFuzzer
  // then has no reason to look for leaks.
  ru3::platform::ReplaceBackend(nullptr);
  std::fesetenv(FE_DFL_ENV);
  return 0;
}

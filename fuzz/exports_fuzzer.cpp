// Plays random sequences of exported calls with random arguments against the
// simulated instrument: NaN, infinities, negative and huge counts, null
// pointers, channels 0..255, calls before opening and after closing. The
// library must neither crash nor trip a sanitizer, whatever the host does.
//
// Each input starts from a closed library; the simulator is built once.
// The only bounds the harness puts on the host are where the library itself
// would legitimately wait: a synchronous measure is made only while the
// record at the current sample rate takes a short time and the trigger
// time-out is finite and short, since a host that asks for a 30-minute record
// or an endless wait for a trigger gets exactly that.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "platform/host.h"
#include "ru3/ru3.h"

namespace {

constexpr std::size_t kBuffer = 65536;  // more than any record
constexpr int kMaxCalls = 64;
constexpr double kMaxMeasureSeconds = 0.02;

double Value(FuzzedDataProvider& in) {
  static constexpr double kSpecial[] = {0.0,
                                        -0.0,
                                        1.0,
                                        -1.0,
                                        0.5,
                                        80.0,
                                        1e-300,
                                        1e300,
                                        -1e300,
                                        std::numeric_limits<double>::quiet_NaN(),
                                        std::numeric_limits<double>::infinity(),
                                        -std::numeric_limits<double>::infinity(),
                                        std::numeric_limits<double>::denorm_min(),
                                        std::numeric_limits<double>::max(),
                                        4294967296.0,
                                        -2147483649.0};
  if (in.ConsumeBool()) return kSpecial[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kSpecial) - 1)];
  return in.ConsumeFloatingPoint<double>();
}

std::uint32_t Count(FuzzedDataProvider& in) {
  static constexpr std::uint32_t kSpecial[] = {0,     1,     2,     255,        256,        32760,
                                               32761, 65535, 65536, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
  if (in.ConsumeBool()) return kSpecial[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kSpecial) - 1)];
  return in.ConsumeIntegral<std::uint32_t>();
}

std::uint32_t Channel(FuzzedDataProvider& in) { return in.ConsumeIntegral<std::uint8_t>(); }

struct Buffers {
  std::vector<std::uint16_t> raw1 = std::vector<std::uint16_t>(kBuffer);
  std::vector<std::uint16_t> raw2 = std::vector<std::uint16_t>(kBuffer);
  std::vector<double> volts1 = std::vector<double>(kBuffer);
  std::vector<double> volts2 = std::vector<double>(kBuffer);
};

template <typename T>
T* Or(FuzzedDataProvider& in, std::vector<T>& buffer) {
  return in.ConsumeIntegralInRange<int>(0, 7) == 0 ? nullptr : buffer.data();
}

template <typename T>
T* Or(FuzzedDataProvider& in, T& value) {
  return in.ConsumeIntegralInRange<int>(0, 7) == 0 ? nullptr : &value;
}

// Whether a synchronous measure would end soon (see the file comment).
bool MeasureEndsSoon() {
  const double rate = GetSampleFrequencyF();
  const std::int32_t timeout = GetTriggerTimeOut();
  const std::int32_t length = GetRecordLength();
  if (!(rate > 0.0) || timeout < 0 || timeout > 10) return false;
  return static_cast<double>(length) / rate < kMaxMeasureSeconds;
}

void Play(FuzzedDataProvider& in, Buffers& b) {
  std::uint8_t u8 = 0;
  std::uint16_t u16 = 0;
  std::uint32_t u32 = 0;
  std::int32_t i32 = 0;
  double d = 0.0;
  switch (in.ConsumeIntegralInRange<int>(0, 63)) {
    case 0:
      InitInstrument(in.ConsumeIntegral<std::uint32_t>());
      break;
    case 1:
      ExitInstrument();
      break;
    case 2:
      if (MeasureEndsSoon()) StartMeasurement();
      break;
    case 3:
      ADC_Start();
      break;
    case 4:
      for (int i = in.ConsumeIntegralInRange<int>(0, 200); i > 0 && ADC_Ready() == 0; --i) {
      }
      break;
    case 5:
      ADC_Abort();
      ADC_Running();
      ADC_Triggered();
      break;
    case 6:
      ADC_ForceTrig();
      break;
    case 7:
      DoMeasure(static_cast<std::int32_t>(Count(in)));
      break;
    case 8:
      GetMeasurement(Or(in, b.volts1), Or(in, b.volts2));
      break;
    case 9:
      GetMeasurementRaw(Or(in, b.raw1), Or(in, b.raw2));
      break;
    case 10:
      GetOneMeasurement(static_cast<std::int32_t>(Count(in)), Or(in, d), Or(in, d));
      break;
    case 11:
      GetOneMeasurementRaw(static_cast<std::int32_t>(Count(in)), Or(in, u16), Or(in, u16));
      break;
    case 12:
      GetOneMeasurementRawCh(Count(in), static_cast<std::int32_t>(Count(in)), Or(in, u16));
      break;
    case 13:
      ADC_GetData(Or(in, b.raw1), Or(in, b.raw2));
      break;
    case 14:
      ADC_GetDataVolt(Or(in, b.volts1), Or(in, b.volts2));
      break;
    case 15:
      ADC_GetDataCh(Count(in), Or(in, b.raw1));
      break;
    case 16:
      ADC_GetDataVoltCh(Count(in), Or(in, b.volts1));
      break;
    case 17:
      SetMeasureMode(Count(in));
      GetMeasureMode(Or(in, u8));
      break;
    case 18:
      SetRecordLength(Count(in));
      GetRecordLength();
      break;
    case 19:
      SetPostSamples(Count(in));
      GetPostSamples();
      break;
    case 20:
      u32 = Count(in);
      SetSampleFrequency(Or(in, u32));
      GetSampleFrequency();
      break;
    case 21:
      d = Value(in);
      SetSampleFrequencyF(Or(in, d));
      GetSampleFrequencyF();
      break;
    case 22:
      SetResolution(Count(in));
      GetResolution(Or(in, u8));
      break;
    case 23:
      SetExternalClock(Count(in));
      GetExternalClock(Or(in, u16));
      break;
    case 24:
      SetInstrumentConfig(Count(in));
      GetInstrumentConfig(Or(in, u16));
      break;
    case 25:
      SetTransferMode(Count(in));
      GetTransferMode(Or(in, u32));
      break;
    case 26:
      d = Value(in);
      SetSensitivity(Channel(in), Or(in, d));
      GetSensitivity(Channel(in), Or(in, d));
      break;
    case 27:
      SetAutoRanging(Channel(in), Count(in));
      GetAutoRanging(Channel(in), Or(in, u8));
      break;
    case 28:
      SetCoupling(Channel(in), Count(in));
      GetCoupling(Channel(in), Or(in, u8));
      break;
    case 29:
      SetDcLevel(Channel(in), Value(in));
      GetDcLevel(Channel(in), Or(in, d));
      break;
    case 30:
      SetTriggerSource(Count(in));
      GetTriggerSource(Or(in, u8));
      break;
    case 31:
      SetTriggerMode(Count(in));
      GetTriggerMode(Or(in, u8));
      break;
    case 32:
      SetTriggerModeCh(Channel(in), Count(in));
      GetTriggerModeCh(Channel(in), Or(in, u8));
      break;
    case 33:
      SetTriggerLevel(Channel(in), Value(in));
      GetTriggerLevel(Channel(in), Or(in, d));
      break;
    case 34:
      SetTriggerHys(Channel(in), Value(in));
      GetTriggerHys(Channel(in), Or(in, d));
      break;
    case 35:
      SetPXITriggerSlopes(Count(in));
      GetPXITriggerSlopes(Or(in, u8));
      break;
    case 36:
      SetPXITriggerEnables(Count(in));
      GetPXITriggerEnables(Or(in, u8));
      break;
    case 37:
      SetTriggerTimeOut(Count(in));
      GetTriggerTimeOut();
      break;
    case 38:
      GetCalibrationDate(Or(in, i32));
      GetSerialNumber(Or(in, i32));
      break;
    case 39:
      GetAvailableResolutions(Or(in, b.volts1));
      GetAvailableSensitivities(Or(in, b.volts2));
      break;
    case 40:
      u32 = Count(in);
      SetSquareWaveGenFrequency(Or(in, u32));
      GetSquareWaveGenFrequency();
      break;
    case 41:
      d = Value(in);
      SetFuncGenFrequency(Or(in, d));
      GetFuncGenFrequency(Or(in, d));
      break;
    case 42:
      SetFuncGenAmplitude(Value(in));
      GetFuncGenAmplitude(Or(in, d));
      GetFuncGenMaxAmplitude(Or(in, d));
      break;
    case 43:
      SetFuncGenSignalType(Count(in));
      GetFuncGenSignalType(Or(in, u16));
      break;
    case 44:
      SetFuncGenDCOffset(Value(in));
      GetFuncGenDCOffset(Or(in, d));
      break;
    case 45:
      SetFuncGenSymmetry(Value(in));
      GetFuncGenSymmetry(Or(in, d));
      break;
    case 46:
      SetFuncGenOutputOn(Count(in));
      GetFuncGenOutputOn(Or(in, u16));
      break;
    case 47: {
      // The host's buffer holds `count` samples, as the contract asks.
      const std::uint32_t count = in.ConsumeIntegralInRange<std::uint32_t>(0, kBuffer);
      FillFuncGenMemory(in.ConsumeBool() ? count : Count(in) & 0xFFFF, Or(in, b.raw1));
      FuncGenBurst(Count(in));
      break;
    }
    case 48:
      SetFuncGenTrigSource(Count(in));
      GetFuncGenTrigSource(Or(in, u8));
      break;
    case 49:
      SetFuncGenMode(Count(in));
      GetFuncGenMode(Count(in));
      break;
    case 50:
      SetFuncGenEnable(Count(in));
      GetFuncGenEnable(Or(in, u16));
      break;
    case 51:
      SetFuncGenAmplitudeRange(Count(in));
      GetFuncGenAmplitudeRange(Count(in));
      break;
    case 52:
      SetDigitalOutputs(Count(in));
      GetDigitalOutputs(Count(in));
      break;
    case 53:
      GetDigitalInputValues(Or(in, b.raw1));
      GetOneDigitalValue(Count(in), Or(in, u16));
      break;
    case 54:
      SetupOhmMeasurements(Count(in));
      GetOhmValues(Count(in), Count(in));
      break;
    case 55:
      I2CWrite(Count(in), Count(in), Count(in));
      I2CRead(Count(in), Count(in), Count(in));
      break;
    case 56:
      I2CWriteNoStop(Count(in), Count(in), Count(in));
      I2CReadNoStop(Count(in), Count(in), Count(in));
      break;
    case 57:
      I2CSetSpeed(Count(in));
      I2CGetSpeed(Count(in));
      break;
    case 58:
      SetActiveRU3(Count(in));
      GetActiveRU3(Or(in, u8));
      break;
    case 59:
      SetDAC7394(Value(in), Value(in));
      break;
    case 60:
      SetMotorOn(Count(in), Count(in));
      break;
    case 61:
      GetMaxSampleFrequency();
      GetMaxSampleFrequencyF();
      GetMaxRecordLength();
      break;
    case 62:
      GetSquareWaveGenStatus();
      GetFunctionGenStatus();
      GetDCLevelStatus();
      GetNrChannels(Or(in, u16));
      break;
    default:
      SetDataReadyCallback(Count(in));
      SetDataReadyEvent(Count(in));
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // The simulated instrument, with a noisy input so records differ.
  setenv("RU3_SIMULATOR", "ch1=sine,1.5,1000;ch2=square,0.5,250;noise=0.01", 1);
  // Notices (no instrument found, ...) would flood the output.
  ru3::platform::SetMessageSink([](const std::string&) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Buffers buffers;
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) InitInstrument(0);
  for (int i = 0; i < kMaxCalls && in.remaining_bytes() > 0; ++i) Play(in, buffers);
  DoMeasure(0);
  ExitInstrument();
  return 0;
}

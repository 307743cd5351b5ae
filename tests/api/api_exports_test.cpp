// Every export of the frame, the settings and the identity / generator /
// auxiliary-output families, called in the three states a host meets: before
// InitInstrument, after an InitInstrument that found no instrument, and with
// the simulated instrument open.
//
// One table holds a row per call: what the host passes, what the call returns
// and what the host's variables hold afterwards. Output variables start with a
// sentinel, so "nothing written" is visible. The rows run in table order, so a
// setter row is followed by the getter rows that see its effect. Without an
// open instrument every row has its "absent" answer and no port is touched.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "api/Exportin.h"
#include "support/sim_fixture.h"

namespace ru3 {
namespace {

// What a call left for the host: its result and its output variables.
struct Observed {
  double result = 0.0;
  std::vector<double> out;
};

struct Row {
  const char* family;
  const char* call;  // the call as written, for the failure message
  std::function<Observed()> run;
  Observed absent;  // before InitInstrument, and after a failed open
  Observed open;    // with the instrument open, after the rows above it
};

// Sentinels the output variables start with.
constexpr std::uint8_t kU8 = 0xA5;
constexpr std::uint16_t kU16 = 0xA5A5;
constexpr std::uint32_t kU32 = 0xA5A5A5A5U;
constexpr std::int32_t kI32 = -0x5A5A5A5A;
constexpr double kD = -7.25;

// A call that returns a value and writes nothing.
template <typename F>
std::function<Observed()> Returns(F call) {
  return [call] { return Observed{static_cast<double>(call()), {}}; };
}

// A call with one output (or in/out) variable that starts as `init`.
template <typename T, typename F>
std::function<Observed()> WithOut(T init, F call) {
  return [init, call] {
    T value = init;
    const double result = static_cast<double>(call(&value));
    return Observed{result, {static_cast<double>(value)}};
  };
}

// A call that fills the host's 20-double list.
template <typename F>
std::function<Observed()> WithList(F call) {
  return [call] {
    std::array<double, 20> list{};
    list.fill(kD);
    const double result = static_cast<double>(call(list.data()));
    return Observed{result, std::vector<double>(list.begin(), list.end())};
  };
}

Observed Is(double result, std::vector<double> out = {}) { return Observed{result, std::move(out)}; }

std::vector<double> Repeat(double value, std::size_t n = 20) { return std::vector<double>(n, value); }

// ---- capability queries and data-ready notification ---------------

std::vector<Row> FrameRows() {
  return {
      {"capability", "GetNrChannels(&n)", WithOut(kU16, GetNrChannels), Is(1, {kU16}), Is(0, {2})},
      {"capability", "GetMaxRecordLength()", Returns(GetMaxRecordLength), Is(0), Is(32760)},
      {"capability", "GetMaxSampleFrequencyF()", Returns(GetMaxSampleFrequencyF), Is(0), Is(200000)},
      {"capability", "GetMaxSampleFrequency()", Returns(GetMaxSampleFrequency), Is(0), Is(200000)},
      {"capability", "GetDCLevelStatus()", Returns(GetDCLevelStatus), Is(1), Is(4)},
      {"capability", "GetSquareWaveGenStatus()", Returns(GetSquareWaveGenStatus), Is(1), Is(8)},
      {"capability", "GetFunctionGenStatus()", Returns(GetFunctionGenStatus), Is(1), Is(8)},
      {"capability", "GetFuncGenMaxAmplitude(&a)", WithOut(kD, GetFuncGenMaxAmplitude), Is(1, {kD}), Is(8, {kD})},
      {"data ready", "SetDataReadyCallback(1234)", Returns([] { return SetDataReadyCallback(1234); }), Is(1), Is(4)},
      {"data ready", "SetDataReadyEvent(1234)", Returns([] { return SetDataReadyEvent(1234); }), Is(1), Is(4)},
  };
}

// ---- measurement and data functions --------------------------------

// A read-out into two host buffers of a record (512) each, or a null pointer
// where `null1`/`null2` say; the outputs are the first and last element of
// each buffer given.
template <typename T, typename F>
std::function<Observed()> WithBuffers(T init, bool null1, bool null2, F call) {
  return [=] {
    std::vector<T> one(512, init);
    std::vector<T> two(512, init);
    const double result = static_cast<double>(call(null1 ? nullptr : one.data(), null2 ? nullptr : two.data()));
    Observed seen{result, {}};
    for (const auto* buffer : {null1 ? nullptr : &one, null2 ? nullptr : &two}) {
      if (buffer == nullptr) continue;
      seen.out.push_back(static_cast<double>(buffer->front()));
      seen.out.push_back(static_cast<double>(buffer->back()));
    }
    return seen;
  };
}

std::vector<Row> MeasurementRows() {
  // Default settings: channel 1 triggers at 0 V with 10 codes of hysteresis on
  // the 80 V range, which the simulated 1 V sine never crosses, so the
  // synchronous measurement is forced after the 1 s time-out.
  const auto ch = [](auto function, std::uint32_t channel) {
    return [function, channel](auto* p) { return function(channel, p); };
  };
  return {
      {"measure", "ADC_Running()", Returns(ADC_Running), Is(0), Is(0)},
      {"measure", "DoMeasure(0)", Returns([] { return DoMeasure(0); }), Is(1), Is(0)},
      {"measure", "StartMeasurement()", Returns(StartMeasurement), Is(1), Is(0)},
      {"measure", "ADC_Ready()", Returns(ADC_Ready), Is(0), Is(1)},
      {"measure", "ADC_Start()", Returns(ADC_Start), Is(1), Is(0)},
      {"measure", "ADC_Running()", Returns(ADC_Running), Is(0), Is(1)},
      {"measure", "ADC_Triggered()", Returns(ADC_Triggered), Is(0), Is(0)},
      {"measure", "ADC_ForceTrig()", Returns(ADC_ForceTrig), Is(1), Is(0)},
      {"measure", "ADC_Abort()", Returns(ADC_Abort), Is(1), Is(0)},
      {"measure", "ADC_Running()", Returns(ADC_Running), Is(0), Is(0)},
      {"read-out", "ADC_GetData(null, b)", WithBuffers(kU16, true, false, ADC_GetData), Is(1, {kU16, kU16}),
       Is(32, {kU16, kU16})},
      {"read-out", "ADC_GetDataVolt(b, null)", WithBuffers(kD, false, true, ADC_GetDataVolt), Is(1, {kD, kD}),
       Is(32, {kD, kD})},
      {"read-out", "ADC_GetDataCh(3, b)", WithOut(kU16, ch(ADC_GetDataCh, 3)), Is(1, {kU16}), Is(16, {kU16})},
      {"read-out", "ADC_GetDataVoltCh(0, b)", WithOut(kD, ch(ADC_GetDataVoltCh, 0)), Is(1, {kD}), Is(16, {kD})},
      {"read-out", "ADC_GetDataVoltCh(1, null)", Returns([] { return ADC_GetDataVoltCh(1, nullptr); }), Is(1), Is(32)},
      {"read-out", "GetMeasurement(null, b)", WithBuffers(kD, true, false, GetMeasurement), Is(1, {kD, kD}),
       Is(32, {kD, kD})},
      {"read-out", "GetMeasurementRaw(b, null)", WithBuffers(kU16, false, true, GetMeasurementRaw), Is(1, {kU16, kU16}),
       Is(32, {kU16, kU16})},
      {"read-out", "GetOneMeasurement(512, &a, &b)",
       WithBuffers(kD, false, false, [](double* a, double* b) { return GetOneMeasurement(512, a, b); }),
       Is(1, {kD, kD, kD, kD}), Is(32, {kD, kD, kD, kD})},
      {"read-out", "GetOneMeasurementRaw(-1, &a, &b)",
       WithBuffers(kU16, false, false,
                   [](std::uint16_t* a, std::uint16_t* b) { return GetOneMeasurementRaw(-1, a, b); }),
       Is(1, {kU16, kU16, kU16, kU16}), Is(32, {kU16, kU16, kU16, kU16})},
      {"read-out", "GetOneMeasurementRawCh(0, 0, &v)",
       WithOut(kU16, [](std::uint16_t* v) { return GetOneMeasurementRawCh(0, 0, v); }), Is(1, {kU16}), Is(16, {kU16})},
      {"read-out", "GetOneMeasurementRawCh(2, 512, &v)",
       WithOut(kU16, [](std::uint16_t* v) { return GetOneMeasurementRawCh(2, 512, v); }), Is(1, {kU16}),
       Is(32, {kU16})},
      {"digital in", "GetDigitalInputValues(b)",
       WithBuffers(kU16, false, true, [](std::uint16_t* b, std::uint16_t*) { return GetDigitalInputValues(b); }),
       Is(1, {kU16, kU16}), Is(4, {kU16, kU16})},
      {"digital in", "GetOneDigitalValue(0, &v)",
       WithOut(kU16, [](std::uint16_t* v) { return GetOneDigitalValue(0, v); }), Is(1, {kU16}), Is(4, {kU16})},
  };
}

// ---- channels, record and timebase -------------------------------------

std::vector<Row> TimebaseRows() {
  return {
      {"timebase", "GetMeasureMode(&m)", WithOut(kU8, GetMeasureMode), Is(1, {kU8}), Is(0, {3})},
      {"timebase", "SetMeasureMode(4)", Returns([] { return SetMeasureMode(4); }), Is(1), Is(4)},
      {"timebase", "SetMeasureMode(17)", Returns([] { return SetMeasureMode(17); }), Is(1), Is(32)},
      {"timebase", "SetMeasureMode(16)", Returns([] { return SetMeasureMode(16); }), Is(1), Is(0)},
      {"timebase", "GetMeasureMode(&m)", WithOut(kU8, GetMeasureMode), Is(1, {kU8}), Is(0, {16})},
      {"timebase", "SetMeasureMode(3)", Returns([] { return SetMeasureMode(3); }), Is(1), Is(0)},
      {"timebase", "GetRecordLength()", Returns(GetRecordLength), Is(0), Is(512)},
      {"timebase", "SetRecordLength(32761)", Returns([] { return SetRecordLength(32761); }), Is(1), Is(32)},
      {"timebase", "SetRecordLength(0xFFFFFFFF)", Returns([] { return SetRecordLength(0xFFFFFFFFU); }), Is(1), Is(32)},
      {"timebase", "SetRecordLength(0)", Returns([] { return SetRecordLength(0); }), Is(1), Is(0)},
      {"timebase", "GetRecordLength()", Returns(GetRecordLength), Is(0), Is(1)},
      {"timebase", "SetRecordLength(32760)", Returns([] { return SetRecordLength(32760); }), Is(1), Is(0)},
      {"timebase", "GetRecordLength()", Returns(GetRecordLength), Is(0), Is(32760)},
      {"timebase", "GetPostSamples()", Returns(GetPostSamples), Is(0), Is(256)},
      {"timebase", "SetPostSamples(32761)", Returns([] { return SetPostSamples(32761); }), Is(1), Is(32)},
      {"timebase", "SetPostSamples(32760)", Returns([] { return SetPostSamples(32760); }), Is(1), Is(0)},
      {"timebase", "GetPostSamples()", Returns(GetPostSamples), Is(0), Is(32760)},
      {"timebase", "SetRecordLength(512)", Returns([] { return SetRecordLength(512); }), Is(1), Is(0)},
      {"timebase", "SetPostSamples(256)", Returns([] { return SetPostSamples(256); }), Is(1), Is(0)},
      {"timebase", "GetSampleFrequencyF()", Returns(GetSampleFrequencyF), Is(0), Is(200000)},
      {"timebase", "GetSampleFrequency()", Returns(GetSampleFrequency), Is(0), Is(200000)},
      {"timebase", "SetSampleFrequency(&30000)", WithOut(30000U, SetSampleFrequency), Is(1, {30000}), Is(0, {30769})},
      {"timebase", "GetSampleFrequencyF()", Returns(GetSampleFrequencyF), Is(0), Is(400000.0 / 13.0)},
      {"timebase", "SetSampleFrequencyF(&100000)", WithOut(100000.0, SetSampleFrequencyF), Is(1, {100000}),
       Is(0, {100000})},
      {"timebase", "GetSampleFrequency()", Returns(GetSampleFrequency), Is(0), Is(100000)},
      {"timebase", "GetExternalClock(&on)", WithOut(kU16, GetExternalClock), Is(1, {kU16}), Is(4, {0})},
      {"timebase", "SetExternalClock(1)", Returns([] { return SetExternalClock(1); }), Is(1), Is(4)},
      {"timebase", "GetResolution(&bits)", WithOut(kU8, GetResolution), Is(1, {kU8}), Is(0, {12})},
      {"timebase", "SetResolution(8)", Returns([] { return SetResolution(8); }), Is(1), Is(32)},
      {"timebase", "SetResolution(12)", Returns([] { return SetResolution(12); }), Is(1), Is(0)},
      {"timebase", "SetTransferMode(0)", Returns([] { return SetTransferMode(0); }), Is(1), Is(4)},
      {"timebase", "GetTransferMode(&mode)", WithOut(kU32, GetTransferMode), Is(1, {kU32}), Is(4, {kU32})},
      {"timebase", "SetInstrumentConfig(0)", Returns([] { return SetInstrumentConfig(0); }), Is(1), Is(4)},
      {"timebase", "GetInstrumentConfig(&c)", WithOut(kU16, GetInstrumentConfig), Is(1, {kU16}), Is(4, {kU16})},
  };
}

// ---- input ranges and coupling ---------------------------------------

std::vector<Row> RangeRows() {
  const auto on_ch = [](auto function, std::uint32_t ch) {
    return [function, ch](auto* p) { return function(ch, p); };
  };
  return {
      {"ranges", "GetSensitivity(1, &r)", WithOut(kD, on_ch(GetSensitivity, 1)), Is(1, {kD}), Is(0, {80})},
      {"ranges", "SetSensitivity(1, &1.3)", WithOut(1.3, on_ch(SetSensitivity, 1)), Is(1, {1.3}), Is(0, {0.8})},
      {"ranges", "GetSensitivity(1, &r)", WithOut(kD, on_ch(GetSensitivity, 1)), Is(1, {kD}), Is(0, {0.8})},
      {"ranges", "SetSensitivity(3, &1.3)", WithOut(1.3, on_ch(SetSensitivity, 3)), Is(1, {1.3}), Is(16, {1.3})},
      {"ranges", "GetSensitivity(0, &r)", WithOut(kD, on_ch(GetSensitivity, 0)), Is(1, {kD}), Is(16, {kD})},
      {"ranges", "GetAutoRanging(1, &on)", WithOut(kU8, on_ch(GetAutoRanging, 1)), Is(1, {kU8}), Is(0, {0})},
      {"ranges", "SetAutoRanging(2, 1)", Returns([] { return SetAutoRanging(2, 1); }), Is(1), Is(0)},
      {"ranges", "GetAutoRanging(2, &on)", WithOut(kU8, on_ch(GetAutoRanging, 2)), Is(1, {kU8}), Is(0, {1})},
      {"ranges", "SetAutoRanging(2, 2)", Returns([] { return SetAutoRanging(2, 2); }), Is(1), Is(32)},
      {"ranges", "SetAutoRanging(3, 2)", Returns([] { return SetAutoRanging(3, 2); }), Is(1), Is(16)},
      {"ranges", "SetAutoRanging(2, 0)", Returns([] { return SetAutoRanging(2, 0); }), Is(1), Is(0)},
      {"ranges", "GetCoupling(2, &c)", WithOut(kU8, on_ch(GetCoupling, 2)), Is(1, {kU8}), Is(0, {0})},
      {"ranges", "SetCoupling(2, 1)", Returns([] { return SetCoupling(2, 1); }), Is(1), Is(0)},
      {"ranges", "GetCoupling(2, &c)", WithOut(kU8, on_ch(GetCoupling, 2)), Is(1, {kU8}), Is(0, {1})},
      {"ranges", "SetCoupling(2, 2)", Returns([] { return SetCoupling(2, 2); }), Is(1), Is(32)},
      {"ranges", "SetCoupling(2, 0)", Returns([] { return SetCoupling(2, 0); }), Is(1), Is(0)},
      {"ranges", "GetDcLevel(1, &v)", WithOut(kD, on_ch(GetDcLevel, 1)), Is(1, {kD}), Is(4, {kD})},
      {"ranges", "SetDcLevel(5, 0.0)", Returns([] { return SetDcLevel(5, 0.0); }), Is(1), Is(4)},
  };
}

// ---- trigger -------------------------------------------------------------

std::vector<Row> TriggerRows() {
  const auto on = [](auto function, std::uint32_t input) {
    return [function, input](auto* p) { return function(input, p); };
  };
  return {
      {"trigger", "GetTriggerSource(&s)", WithOut(kU8, GetTriggerSource), Is(1, {kU8}), Is(0, {0})},
      {"trigger", "SetTriggerSource(4)", Returns([] { return SetTriggerSource(4); }), Is(1), Is(4)},
      {"trigger", "SetTriggerSource(10)", Returns([] { return SetTriggerSource(10); }), Is(1), Is(4)},
      {"trigger", "SetTriggerSource(15)", Returns([] { return SetTriggerSource(15); }), Is(1), Is(32)},
      {"trigger", "SetTriggerSource(9)", Returns([] { return SetTriggerSource(9); }), Is(1), Is(0)},
      {"trigger", "GetTriggerMode(&m) no trigger", WithOut(kU8, GetTriggerMode), Is(1, {kU8}), Is(0, {kU8})},
      {"trigger", "SetTriggerSource(1)", Returns([] { return SetTriggerSource(1); }), Is(1), Is(0)},
      {"trigger", "GetTriggerSource(&s)", WithOut(kU8, GetTriggerSource), Is(1, {kU8}), Is(0, {1})},
      {"trigger", "GetTriggerMode(&m)", WithOut(kU8, GetTriggerMode), Is(1, {kU8}), Is(0, {0})},
      {"trigger", "SetTriggerModeCh(0, 0)", Returns([] { return SetTriggerModeCh(0, 0); }), Is(1), Is(16)},
      {"trigger", "GetTriggerModeCh(0, &m)", WithOut(kU8, on(GetTriggerModeCh, 0)), Is(1, {kU8}), Is(16, {kU8})},
      {"trigger", "SetTriggerModeCh(2, 4)", Returns([] { return SetTriggerModeCh(2, 4); }), Is(1), Is(4)},
      {"trigger", "SetTriggerModeCh(2, 12)", Returns([] { return SetTriggerModeCh(2, 12); }), Is(1), Is(32)},
      {"trigger", "SetTriggerModeCh(2, 3)", Returns([] { return SetTriggerModeCh(2, 3); }), Is(1), Is(0)},
      {"trigger", "GetTriggerModeCh(2, &m)", WithOut(kU8, on(GetTriggerModeCh, 2)), Is(1, {kU8}), Is(0, {3})},
      {"trigger", "SetTriggerMode(1)", Returns([] { return SetTriggerMode(1); }), Is(1), Is(0)},
      {"trigger", "GetTriggerMode(&m)", WithOut(kU8, GetTriggerMode), Is(1, {kU8}), Is(0, {1})},
      {"trigger", "GetTriggerModeCh(2, &m)", WithOut(kU8, on(GetTriggerModeCh, 2)), Is(1, {kU8}), Is(0, {1})},
      {"trigger", "SetTriggerMode(5)", Returns([] { return SetTriggerMode(5); }), Is(1), Is(4)},
      {"trigger", "SetTriggerMode(0)", Returns([] { return SetTriggerMode(0); }), Is(1), Is(0)},
      // Channel 1 is on 0.8 V since the range rows; channel 2 on 80 V.
      {"trigger", "GetTriggerLevel(1, &v)", WithOut(kD, on(GetTriggerLevel, 1)), Is(1, {kD}), Is(0, {0.0})},
      {"trigger", "SetTriggerLevel(1, 0.8)", Returns([] { return SetTriggerLevel(1, 0.8); }), Is(1), Is(0)},
      {"trigger", "GetTriggerLevel(1, &v)", WithOut(kD, on(GetTriggerLevel, 1)), Is(1, {kD}), Is(0, {0.8})},
      {"trigger", "SetTriggerLevel(1, 0.81)", Returns([] { return SetTriggerLevel(1, 0.81); }), Is(1), Is(32)},
      {"trigger", "SetTriggerLevel(3, 0.0)", Returns([] { return SetTriggerLevel(3, 0.0); }), Is(1), Is(16)},
      {"trigger", "SetTriggerLevel(1, 0.0)", Returns([] { return SetTriggerLevel(1, 0.0); }), Is(1), Is(0)},
      {"trigger", "GetTriggerHys(2, &h)", WithOut(kD, on(GetTriggerHys, 2)), Is(1, {kD}), Is(0, {6.25})},
      {"trigger", "SetTriggerHys(2, 12.5)", Returns([] { return SetTriggerHys(2, 12.5); }), Is(1), Is(0)},
      {"trigger", "GetTriggerHys(2, &h)", WithOut(kD, on(GetTriggerHys, 2)), Is(1, {kD}), Is(0, {12.5})},
      {"trigger", "SetTriggerHys(2, -1.0)", Returns([] { return SetTriggerHys(2, -1.0); }), Is(1), Is(32)},
      {"trigger", "SetTriggerHys(0, 1.0)", Returns([] { return SetTriggerHys(0, 1.0); }), Is(1), Is(16)},
      {"trigger", "GetPXITriggerSlopes(&s)", WithOut(kU8, GetPXITriggerSlopes), Is(1, {kU8}), Is(4, {kU8})},
      {"trigger", "SetPXITriggerSlopes(1)", Returns([] { return SetPXITriggerSlopes(1); }), Is(1), Is(4)},
      {"trigger", "GetPXITriggerEnables(&e)", WithOut(kU8, GetPXITriggerEnables), Is(1, {kU8}), Is(4, {kU8})},
      {"trigger", "SetPXITriggerEnables(1)", Returns([] { return SetPXITriggerEnables(1); }), Is(1), Is(4)},
      {"trigger", "GetTriggerTimeOut()", Returns(GetTriggerTimeOut), Is(1), Is(1000)},
      {"trigger", "SetTriggerTimeOut(2500)", Returns([] { return SetTriggerTimeOut(2500); }), Is(1), Is(0)},
      {"trigger", "GetTriggerTimeOut()", Returns(GetTriggerTimeOut), Is(1), Is(2500)},
      {"trigger", "SetTriggerTimeOut(0xFFFFFFFF)", Returns([] { return SetTriggerTimeOut(0xFFFFFFFFU); }), Is(1),
       Is(0)},
      {"trigger", "GetTriggerTimeOut()", Returns(GetTriggerTimeOut), Is(1), Is(-1)},
      {"trigger", "SetTriggerSource(0)", Returns([] { return SetTriggerSource(0); }), Is(1), Is(0)},
  };
}

// ---- identity, generators, digital outputs, serial bus, aux outputs ---

std::vector<Row> IdentityRows() {
  // The simulated instrument's memory: serial 10001, calibrated 14 June 2021.
  const std::vector<double> ranges = {80, 40, 20, 8, 4, 2, 0.8, 0.4, 0.2, 0.1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<double> resolutions = Repeat(0.0);
  resolutions[0] = 12;
  return {
      {"identity", "GetCalibrationDate(&d)", WithOut(kI32, GetCalibrationDate), Is(1, {kI32}),
       Is(0, {14 << 24 | 6 << 16 | 2021})},
      {"identity", "GetSerialNumber(&s)", WithOut(kI32, GetSerialNumber), Is(1, {kI32}), Is(0, {10001})},
      {"identity", "GetAvailableSensitivities(list)", WithList(GetAvailableSensitivities), Is(1, Repeat(kD)),
       Is(0, ranges)},
      {"identity", "GetAvailableResolutions(list)", WithList(GetAvailableResolutions), Is(1, Repeat(kD)),
       Is(0, resolutions)},
  };
}

std::vector<Row> GeneratorRows() {
  return {
      {"square wave", "GetSquareWaveGenFrequency()", Returns(GetSquareWaveGenFrequency), Is(0), Is(0)},
      {"square wave", "SetSquareWaveGenFrequency(&1000)", WithOut(1000U, SetSquareWaveGenFrequency), Is(1, {1000}),
       Is(8, {1000})},
      {"function gen", "SetFuncGenSignalType(1)", Returns([] { return SetFuncGenSignalType(1); }), Is(1), Is(8)},
      {"function gen", "GetFuncGenSignalType(&t)", WithOut(kU16, GetFuncGenSignalType), Is(1, {kU16}), Is(8, {kU16})},
      {"function gen", "SetFuncGenAmplitude(1.0)", Returns([] { return SetFuncGenAmplitude(1.0); }), Is(1), Is(8)},
      {"function gen", "GetFuncGenAmplitude(&a)", WithOut(kD, GetFuncGenAmplitude), Is(1, {kD}), Is(8, {kD})},
      {"function gen", "SetFuncGenAmplitudeRange(0)", Returns([] { return SetFuncGenAmplitudeRange(0); }), Is(4),
       Is(4)},
      {"function gen", "GetFuncGenAmplitudeRange(0)", Returns([] { return GetFuncGenAmplitudeRange(0); }), Is(4),
       Is(4)},
      {"function gen", "SetFuncGenDCOffset(1.0)", Returns([] { return SetFuncGenDCOffset(1.0); }), Is(1), Is(8)},
      {"function gen", "GetFuncGenDCOffset(&o)", WithOut(kD, GetFuncGenDCOffset), Is(1, {kD}), Is(8, {kD})},
      {"function gen", "SetFuncGenSymmetry(50.0)", Returns([] { return SetFuncGenSymmetry(50.0); }), Is(1), Is(8)},
      {"function gen", "GetFuncGenSymmetry(&s)", WithOut(kD, GetFuncGenSymmetry), Is(1, {kD}), Is(8, {kD})},
      {"function gen", "SetFuncGenFrequency(&1000)", WithOut(1000.0, SetFuncGenFrequency), Is(1, {1000}),
       Is(8, {1000})},
      {"function gen", "GetFuncGenFrequency(&f)", WithOut(kD, GetFuncGenFrequency), Is(1, {kD}), Is(8, {kD})},
      {"function gen", "SetFuncGenTrigSource(0)", Returns([] { return SetFuncGenTrigSource(0); }), Is(1), Is(4)},
      {"function gen", "GetFuncGenTrigSource(&s)", WithOut(kU8, GetFuncGenTrigSource), Is(1, {kU8}), Is(4, {kU8})},
      {"function gen", "FillFuncGenMemory(4, samples)", Returns([] {
         const std::array<std::uint16_t, 4> samples{1, 2, 3, 4};
         return FillFuncGenMemory(4, samples.data());
       }),
       Is(1), Is(8)},
      {"function gen", "SetFuncGenOutputOn(1)", Returns([] { return SetFuncGenOutputOn(1); }), Is(1), Is(8)},
      // These two write "off" before any check.
      {"function gen", "GetFuncGenOutputOn(&on)", WithOut(kU16, GetFuncGenOutputOn), Is(1, {0}), Is(8, {0})},
      {"function gen", "GetFuncGenEnable(&on)", WithOut(kU16, GetFuncGenEnable), Is(1, {0}), Is(8, {0})},
      {"function gen", "SetFuncGenEnable(1)", Returns([] { return SetFuncGenEnable(1); }), Is(1), Is(4)},
      {"function gen", "FuncGenBurst(1)", Returns([] { return FuncGenBurst(1); }), Is(1), Is(4)},
      {"function gen", "SetFuncGenMode(0)", Returns([] { return SetFuncGenMode(0); }), Is(4), Is(4)},
      {"function gen", "GetFuncGenMode(0)", Returns([] { return GetFuncGenMode(0); }), Is(4), Is(4)},
      {"digital out", "SetDigitalOutputs(0)", Returns([] { return SetDigitalOutputs(0); }), Is(1), Is(4)},
      {"digital out", "GetDigitalOutputs(0)", Returns([] { return GetDigitalOutputs(0); }), Is(1), Is(4)},
      {"resistance", "SetupOhmMeasurements(0)", Returns([] { return SetupOhmMeasurements(0); }), Is(1), Is(4)},
      {"resistance", "GetOhmValues(0, 0)", Returns([] { return GetOhmValues(0, 0); }), Is(4), Is(4)},
      {"serial bus", "I2CWrite(0, 0, 0)", Returns([] { return I2CWrite(0, 0, 0); }), Is(1), Is(4)},
      {"serial bus", "I2CWriteNoStop(0, 0, 0)", Returns([] { return I2CWriteNoStop(0, 0, 0); }), Is(1), Is(4)},
      {"serial bus", "I2CRead(0, 0, 0)", Returns([] { return I2CRead(0, 0, 0); }), Is(1), Is(4)},
      {"serial bus", "I2CReadNoStop(0, 0, 0)", Returns([] { return I2CReadNoStop(0, 0, 0); }), Is(1), Is(4)},
      {"serial bus", "I2CSetSpeed(0)", Returns([] { return I2CSetSpeed(0); }), Is(1), Is(4)},
      {"serial bus", "I2CGetSpeed(0)", Returns([] { return I2CGetSpeed(0); }), Is(1), Is(4)},
  };
}

std::vector<Row> AuxOutputRows() {
  // Unit selection last but one: the final row selects unit 1 again, the
  // measuring unit.
  return {
      {"aux outputs", "SetDAC7394(12.0, -0.0)", Returns([] { return SetDAC7394(12.0, -0.0); }), Is(1), Is(0)},
      {"aux outputs", "SetMotorOn(256, 1)", Returns([] { return SetMotorOn(256, 1); }), Is(1), Is(0)},
      {"aux outputs", "GetActiveRU3(&u)", WithOut(kU8, GetActiveRU3), Is(1, {kU8}), Is(0, {0})},
      {"aux outputs", "SetActiveRU3(0x102)", Returns([] { return SetActiveRU3(0x102); }), Is(1), Is(0)},
      {"aux outputs", "GetActiveRU3(&u)", WithOut(kU8, GetActiveRU3), Is(1, {kU8}), Is(0, {2})},
      {"aux outputs", "SetActiveRU3(7)", Returns([] { return SetActiveRU3(7); }), Is(1), Is(0)},
      {"aux outputs", "GetActiveRU3(&u)", WithOut(kU8, GetActiveRU3), Is(1, {kU8}), Is(0, {7})},
      {"aux outputs", "SetActiveRU3(1)", Returns([] { return SetActiveRU3(1); }), Is(1), Is(0)},
  };
}

std::vector<Row> AllRows() {
  std::vector<Row> rows;
  for (auto family :
       {FrameRows, MeasurementRows, TimebaseRows, RangeRows, TriggerRows, IdentityRows, GeneratorRows, AuxOutputRows}) {
    std::vector<Row> part = family();
    rows.insert(rows.end(), std::make_move_iterator(part.begin()), std::make_move_iterator(part.end()));
  }
  return rows;
}

void ExpectSame(const Observed& actual, const Observed& expected, const Row& row, const char* state) {
  const std::string where = std::string(state) + ", " + row.family + ": " + row.call;
  EXPECT_DOUBLE_EQ(actual.result, expected.result) << where;
  ASSERT_EQ(actual.out.size(), expected.out.size()) << where;
  for (std::size_t i = 0; i < actual.out.size(); ++i) {
    EXPECT_DOUBLE_EQ(actual.out[i], expected.out[i]) << where << ", output " << i;
  }
}

class ApiExports : public test::SimFixture {
 protected:
  // Runs every row without an open instrument: each gives its absent answer
  // and none reaches the port.
  void RunAbsent(const char* state) {
    const std::uint64_t accesses = sim().AccessCount();
    for (const Row& row : AllRows()) ExpectSame(row.run(), row.absent, row, state);
    EXPECT_EQ(sim().AccessCount(), accesses) << state << ": a port was touched";
    if (api::State().Instrument) {
      EXPECT_EQ(api::State().Instrument->UnitSelectBits, 0x30) << state;
    }
  }
};

TEST_F(ApiExports, BeforeInitInstrumentEveryExportAnswersAbsent) {
  ASSERT_EQ(ExitInstrument(), RU3_OK);
  ASSERT_EQ(api::State().Instrument, nullptr);
  RunAbsent("before InitInstrument");
  EXPECT_EQ(api::State().Instrument, nullptr);
}

TEST_F(ApiExports, AfterAFailedOpenEveryExportAnswersAbsent) {
  Open("port=none");
  ASSERT_EQ(init_status, RU3_NO_INSTRUMENT);
  ASSERT_NE(api::State().Instrument, nullptr);
  RunAbsent("after a failed open");
  EXPECT_EQ(InitInstrument(0), RU3_NO_INSTRUMENT);  // not retried
}

TEST_F(ApiExports, WithTheInstrumentOpenEveryExportAnswersAsSpecified) {
  ASSERT_EQ(init_status, RU3_OK);
  for (const Row& row : AllRows()) ExpectSame(row.run(), row.open, row, "open");
  EXPECT_EQ(InitInstrument(0), RU3_OK);  // already open: nothing else happens
}

// The auxiliary outputs reach the simulated instrument: the DAC codes, the
// motor register of unit 4 from the low bytes, and the unit selection.
TEST_F(ApiExports, AuxiliaryOutputsReachTheInstrument) {
  ASSERT_EQ(init_status, RU3_OK);
  // Opening leaves both DAC channels at 0 V and the motors off.
  EXPECT_EQ(sim().DacCode(1, 1), 2048);
  EXPECT_EQ(sim().DacCode(1, 2), 2048);
  EXPECT_EQ(sim().MotorBits(), 0);
  EXPECT_EQ(SetDAC7394(12.0, -0.0), RU3_OK);
  EXPECT_EQ(sim().DacCode(1, 1), 4095);
  EXPECT_EQ(sim().DacCode(1, 2), 2048);
  EXPECT_EQ(SetDAC7394(5.0, -12.5), RU3_OK);
  EXPECT_EQ(sim().DacCode(1, 1), 3072);
  EXPECT_EQ(sim().DacCode(1, 2), 0);
  EXPECT_EQ(SetMotorOn(256, 1), RU3_OK);
  EXPECT_EQ(sim().MotorBits(), 2);
  EXPECT_EQ(SetMotorOn(0x201, 0), RU3_OK);
  EXPECT_EQ(sim().MotorBits(), 1);
  // Unit 2's DAC is reached after selecting it; unit 1's keeps its codes.
  EXPECT_EQ(SetActiveRU3(2), RU3_OK);
  EXPECT_EQ(SetDAC7394(-10.0, 10.0), RU3_OK);
  EXPECT_EQ(sim().DacCode(2, 1), 0);
  EXPECT_EQ(sim().DacCode(2, 2), 4095);
  EXPECT_EQ(sim().DacCode(1, 1), 3072);
  EXPECT_EQ(SetActiveRU3(1), RU3_OK);
  // Closing puts the outputs back to 0 V and off.
  EXPECT_EQ(ExitInstrument(), RU3_OK);
  EXPECT_EQ(sim().DacCode(1, 1), 2048);
  EXPECT_EQ(sim().MotorBits(), 0);
}

// What the settings exports store reaches the instrument at the next arm or,
// for the sample clock, at once.
TEST_F(ApiExports, SettingsReachTheInstrument) {
  ASSERT_EQ(init_status, RU3_OK);
  uint32_t f = 30000;
  ASSERT_EQ(SetSampleFrequency(&f), RU3_OK);
  EXPECT_NEAR(sim().SampleRateHz(), 400000.0 / 13.0, 1e-6);
  double range = 1.5;
  ASSERT_EQ(SetSensitivity(1, &range), RU3_OK);
  ASSERT_EQ(range, 2.0);
  ASSERT_EQ(SetTriggerLevel(1, 1.0), RU3_OK);  // 64 codes above 0 V on the 2 V range
  ASSERT_EQ(ADC_Start(), RU3_OK);
  EXPECT_EQ(sim().InputStage(1).range, 5);
  EXPECT_EQ(sim().Counter(2) >> 8, (127 + 64) ^ 0xFF);
  ASSERT_EQ(ADC_Abort(), RU3_OK);
}

}  // namespace
}  // namespace ru3

// The simulated PC and RU3: a software instrument behind the platform seam.
//
// `SimulatedPc` is a `platform::Backend`: a PC with up to three printer ports
// (data at base, status at base+1, control at base+2) and one RU3 hanging on
// one of them. The instrument sees nothing but the port writes and answers
// only through the status port, exactly as the hardware does: four units on
// the port (unit 1 measures, every unit has a two-channel DAC, unit 4 drives
// the motors), sixteen 4-bit registers per unit, three 16-bit counters, the
// serial EEPROM with its factory calibration, the analog front end with
// per-range gain and offset errors that the calibration cancels, the sample
// clock, the trigger and the 32768-sample ring memory per channel.
//
// Time is simulated: every port access costs `bus_ns`, `Delay` advances time
// at once, and the acquisition is computed lazily up to "now" whenever the
// library could observe it. Unless switched off, simulated time never falls
// behind the wall-clock time since the simulator was built, so a host that
// waits in real time still sees its measurements finish.
//
// How the sample memory answers the read-out (which sample every lane read
// returns, the trigger latency) is derived in sample_memory.md beside this
// file.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/host.h"
#include "sim/faults.h"

namespace ru3::sim {

class Instrument;
class InstrumentObserver;

// ---- Configuration ---------------------------------------------------------

enum class Shape : std::uint8_t { kSine, kSquare, kTriangle, kSawtooth, kDc, kNoise };

// One input signal, in volts and hertz. The periodic shapes swing `amplitude`
// (peak) around `offset` and start at phase 0 rising through the offset. For
// kDc the level is amplitude + offset; for kNoise `amplitude` is the rms of
// Gaussian noise around `offset`. `noise_rms` adds Gaussian noise on top of
// any shape. Noise is a function of channel and time under a fixed seed, so
// a run repeats exactly.
struct SignalSource {
  Shape shape = Shape::kSine;
  double amplitude = 1.0;
  double frequency = 1000.0;
  double offset = 0.0;
  double noise_rms = 0.0;
};

struct CalibrationDate {
  int year = 2021;
  int month = 6;
  int day = 14;
  int hour = 9;
  int minute = 45;
};

struct SimConfig {
  // Base addresses of LPT1..LPT3; 0 = absent.
  std::array<std::uint16_t, 3> port_bases{0x378, 0, 0};
  // Where the instrument hangs: 0..2 = LPT1..LPT3, -1 = nowhere.
  int instrument_port = 0;
  // EEPROM identity; the variant byte also decides the hardware: 0x11 is the
  // 400 kHz model, anything else the 200 kHz one.
  std::uint8_t variant = 0x10;
  std::uint32_t serial = 10001;
  CalibrationDate calibration_date;
  bool erased_eeprom = false;
  std::array<SignalSource, 2> inputs{SignalSource{Shape::kSine, 1.0, 1000.0, 0.0, 0.0},
                                     SignalSource{Shape::kSquare, 0.5, 250.0, 0.0, 0.0}};
  bool driver_present = true;
  std::uint32_t bus_ns = 1000;       // simulated time per port access
  std::uint32_t start_tick = 0;      // TickCount() at simulated time 0
  std::uint64_t noise_seed = 0x52553353494DULL;
  // Units hanging on the port, 1..4: when a unit above this number is
  // addressed no unit drives the status lines, which float.
  int units = 4;
  bool wall_clock_coupling = true;
};

// Parses an RU3_SIMULATOR value: `key=value` pairs separated by ';', all
// optional (keys: ports, port, variant, serial, caldate, eeprom, ch1, ch2,
// noise, driver, bus_ns, tick, units). On a malformed value returns false and sets
// *error to one line naming the key and what is wrong.
bool ParseSimConfig(const std::string& text, SimConfig* config, std::string* error);

// The simulated PC built from an RU3_SIMULATOR value; null (with the reason
// in *error) when the value is malformed.
std::unique_ptr<platform::Backend> CreateSimulatorBackend(const std::string& config, std::string* error);

// ---- Calibration model -----------------------------------------------------

inline constexpr int kRangeCount = 10;

// Nominal full scale of range 1..10 in volts (0.1 .. 80).
double NominalFullScale(int range);

// The codes the factory stored for channel 1/2 and range 1..10: the gain and
// offset words of the 14-bit converter and the two trim bytes. Loaded as the
// library loads them they cancel the channel's gain and offset errors.
struct CalibrationCodes {
  std::uint16_t gain = 0;
  std::uint16_t offset = 0;
  std::uint8_t trim_a = 0;
  std::uint8_t trim_b = 0;
};
CalibrationCodes FactoryCalibration(int channel, int range);

// ---- Observed state ----------------------------------------------------------

// One channel's analog front end as the last relay, trim and converter words
// left it.
struct InputStageState {
  int group = 0;               // relay group: 1 (0.1-0.8 V), 2 (2-8 V), 3 (20-80 V); 0 = none selected
  bool dc_coupled = true;      // coupling relay bit set
  std::uint8_t trim_a = 0;     // fine gain trim, from the trim converter outputs
  std::uint8_t trim_b = 0;     // fine offset trim (the converter holds 255 - trim_b)
  std::uint16_t gain_code = 0;         // first data register of the serial converter
  std::uint16_t offset_mean_code = 0;  // second data register: (gain + offset) / 2
  int offset_code = 0;                 // recovered offset code: 2 * second - first
  double full_scale_volts = 0.0;       // input that moves the reading by 2048 codes
  double offset_volts = 0.0;           // reading at 0 V input, in volts
  int range = 0;  // range 1..10 whose nominal full scale this is within 0.5 %, else 0
};

struct AcquisitionState {
  bool running = false;     // busy: sampling and not yet stopped by the post-trigger counter
  bool triggered = false;   // the post-trigger counter is counting (or has stopped it)
  bool wrapped = false;     // the ring has been overwritten since the record started
  std::uint8_t trigger_flags = 0;  // status bits 0-2
  std::int64_t half_steps = 0;     // write pointer in half-steps; newest sample at half_steps / 2
  std::int64_t address_half_steps = 0;  // the address counter (moved by seeks and the lane too)
  double sample_rate_hz = 0.0;     // rate the sample clock produces now
};

// ---- The simulated PC ------------------------------------------------------

class SimulatedPc : public platform::Backend {
 public:
  explicit SimulatedPc(const SimConfig& config = SimConfig{});
  ~SimulatedPc() override;

  // platform::Backend
  void Out(std::uint16_t port, std::uint8_t value) override;
  std::uint8_t In(std::uint16_t port) override;
  bool PortDriverPresent() override { return config_.driver_present; }
  platform::DeviceHandle OpenDevice(const std::string& name) override;
  void CloseDevice(platform::DeviceHandle handle) override;
  int PlatformId() override { return platform::kPlatformNT; }
  std::uint64_t LookupPortBase(const std::string& name) override;
  std::uint32_t TickCount() override;
  void Delay(std::int32_t ms) override;

  [[nodiscard]] const SimConfig& config() const { return config_; }

  // ---- Instrument state, read-only (units 1..4, channels 1..2) ----
  [[nodiscard]] std::uint8_t Register(int unit, int reg) const;  // as last written
  [[nodiscard]] std::uint16_t Counter(int counter) const;        // latches of counters 2, 3, 4
  [[nodiscard]] std::uint8_t RelayByte() const;
  [[nodiscard]] InputStageState InputStage(int channel) const;
  [[nodiscard]] std::array<std::uint8_t, 2> TrimOutputs(int channel) const;  // raw outputs 0 and 1
  // The non-empty words the channel's serial converter took, oldest first
  // (the last 64).
  [[nodiscard]] std::vector<std::uint16_t> ConverterWords(int channel) const;
  [[nodiscard]] std::array<std::uint8_t, 256> EepromBytes() const;
  [[nodiscard]] std::uint16_t DacCode(int unit, int channel) const;
  [[nodiscard]] double DacVolts(int unit, int channel) const;
  [[nodiscard]] std::uint8_t MotorBits() const;  // register 10 of unit 4, bits 0-1
  [[nodiscard]] double SampleRateHz() const;
  // Brings the acquisition up to the present first.
  [[nodiscard]] AcquisitionState Acquisition();
  // 12-bit code at a ring address (0..32767) of channel 1/2.
  [[nodiscard]] std::uint16_t RingSample(int channel, int address);

  [[nodiscard]] std::uint64_t NowNs() const { return now_ns_; }
  [[nodiscard]] std::uint64_t AccessCount() const { return accesses_; }
  // Who follows the records the units start and read out (instrument.h);
  // null: nobody. Not owned.
  void SetObserver(InstrumentObserver* observer);
  // Port accesses outside every port whose device is open (held) now.
  [[nodiscard]] std::uint64_t UnclaimedAccesses() const { return unclaimed_accesses_; }

  // The latches of the port the instrument hangs on (the first port at its
  // base) and whether its device is held; nullopt when it hangs nowhere.
  struct PortLatches {
    std::uint16_t base = 0;
    std::uint8_t data = 0;
    std::uint8_t control = 0;
    bool held = false;
  };
  [[nodiscard]] std::optional<PortLatches> InstrumentPort() const;

  // ---- Test controls ----
  void SetInput(int channel, const SignalSource& source);
  void SetEepromBytes(const std::array<std::uint8_t, 256>& bytes);
  void SetEepromByte(int address, std::uint8_t value);
  void SetStartTick(std::uint32_t tick) { config_.start_tick = tick; }
  void SetWallClockCoupling(bool on);
  void AdvanceTime(std::uint64_t ns);
  // Faults switched on now take effect at the next port access.
  Faults& faults() { return faults_; }

 private:
  using Port = PortLatches;

  // Every access costs bus time; the accesses that let the instrument see the
  // time (register strobes, status reads other than the sample lane) also
  // catch up with the wall clock first.
  void Tick() {
    now_ns_ += config_.bus_ns;
    ++accesses_;
  }
  void SyncWithWallClock();
  Port* PortAt(std::uint16_t address, std::uint16_t* offset);
  [[nodiscard]] int PortIndex(const std::string& name) const;

  SimConfig config_;
  std::array<Port, 3> ports_{};
  std::uint16_t instrument_base_ = 0;  // 0: no instrument attached
  std::unique_ptr<Instrument> instrument_;
  std::uint64_t now_ns_ = 0;
  std::uint64_t accesses_ = 0;
  std::uint64_t unclaimed_accesses_ = 0;
  Faults faults_;
  std::chrono::steady_clock::time_point wall_synced_;  // real time of the last sync
  std::uint64_t synced_ns_ = 0;                         // simulated time then
};

}  // namespace ru3::sim

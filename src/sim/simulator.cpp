// The simulated PC: three printer ports, their device names, simulated time,
// and the instrument on one of the ports.
#include "sim/simulator.h"

#include <algorithm>
#include <cctype>

#include "sim/instrument.h"

namespace ru3::sim {

namespace {

constexpr std::uint8_t kFloatingStatus = 0x7F;  // status lines with nothing attached
constexpr std::uint64_t kNsPerMs = 1'000'000;

}  // namespace

std::unique_ptr<platform::Backend> CreateSimulatorBackend(const std::string& config, std::string* error) {
  SimConfig parsed;
  std::string reason;
  if (!ParseSimConfig(config, &parsed, &reason)) {
    if (error != nullptr) *error = reason;
    return nullptr;
  }
  return std::make_unique<SimulatedPc>(parsed);
}

SimulatedPc::SimulatedPc(const SimConfig& config)
    : config_(config), instrument_(std::make_unique<Instrument>(config)), wall_synced_(std::chrono::steady_clock::now()) {
  for (std::size_t i = 0; i < ports_.size(); ++i) ports_[i].base = config_.port_bases[i];
  if (config_.instrument_port >= 0 && config_.instrument_port < 3) {
    instrument_base_ = config_.port_bases[static_cast<std::size_t>(config_.instrument_port)];
  }
}

SimulatedPc::~SimulatedPc() = default;

void SimulatedPc::SyncWithWallClock() {
  if (!config_.wall_clock_coupling) return;
  // Over every interval simulated time advances at least as far as real time
  // did: a lead taken by a delay (identification waits more than half a
  // second in no real time) is kept, and the clock still runs on at
  // wall-clock speed from there.
  const auto wall = std::chrono::steady_clock::now();
  const auto wall_delta = std::chrono::duration_cast<std::chrono::nanoseconds>(wall - wall_synced_).count();
  wall_synced_ = wall;
  if (wall_delta > 0) now_ns_ = std::max(now_ns_, synced_ns_ + static_cast<std::uint64_t>(wall_delta));
  synced_ns_ = now_ns_;
}

// Ports sharing a base address are one port; the first of them keeps its
// latches.
SimulatedPc::Port* SimulatedPc::PortAt(std::uint16_t address, std::uint16_t* offset) {
  for (auto& port : ports_) {
    if (port.base == 0) continue;
    const auto off = static_cast<std::uint16_t>(address - port.base);
    if (off < 3) {
      *offset = off;
      return &port;
    }
  }
  return nullptr;
}

void SimulatedPc::Out(std::uint16_t port, std::uint8_t value) {
  Tick();
  std::uint16_t offset = 0;
  Port* p = PortAt(port, &offset);
  if (p == nullptr || !p->held) ++unclaimed_accesses_;
  if (p == nullptr) return;
  const bool instrument = p->base == instrument_base_ && !faults_.unplugged;
  if (offset == 0) {
    p->data = value;
    if (instrument) instrument_->WriteData(value);
  } else if (offset == 2) {
    // A rising strobe (bit 1) writes a register: the instrument acts at now.
    if (instrument && (value & ~p->control & 0x02) != 0) SyncWithWallClock();
    p->control = value;
    if (instrument) instrument_->WriteControl(value, now_ns_);
  }
}

std::uint8_t SimulatedPc::In(std::uint16_t port) {
  Tick();
  std::uint16_t offset = 0;
  Port* p = PortAt(port, &offset);
  if (p == nullptr || !p->held) ++unclaimed_accesses_;
  if (p == nullptr) return 0xFF;
  if (offset == 0) return p->data;
  if (offset == 2) return p->control;
  if (p->base != instrument_base_) return kFloatingStatus;
  const int unit = 3 - ((p->data >> 4) & 3);
  if (unit >= config_.units) return kFloatingStatus;  // no unit drives the lines
  const int selected = instrument_->reg(unit, 15);
  // Registers 0-2 of unit 1 read back the acquisition as of now; the sample
  // lane reads the stopped memory and is left at full speed.
  if (unit == 0 && selected <= 2) SyncWithWallClock();
  if (faults_.UnpluggedAtRead(unit == 0 && selected == 3)) return kFloatingStatus;
  return faults_.FilterStatus(instrument_->ReadStatus(now_ns_), p->data, selected);
}

int SimulatedPc::PortIndex(const std::string& name) const {
  if (name.size() != 4) return -1;
  std::string upper = name;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  if (upper.compare(0, 3, "LPT") != 0 || upper[3] < '1' || upper[3] > '3') return -1;
  return upper[3] - '1';
}

platform::DeviceHandle SimulatedPc::OpenDevice(const std::string& name) {
  const int i = PortIndex(name);
  if (i < 0) return platform::kNoDevice;
  Port& port = ports_[static_cast<std::size_t>(i)];
  if (port.base == 0 || port.held) return platform::kNoDevice;
  port.held = true;
  return static_cast<platform::DeviceHandle>(i + 1);
}

void SimulatedPc::CloseDevice(platform::DeviceHandle handle) {
  if (handle >= 1 && handle <= 3) ports_[static_cast<std::size_t>(handle - 1)].held = false;
}

std::uint64_t SimulatedPc::LookupPortBase(const std::string& name) {
  const int i = PortIndex(name);
  return i < 0 ? 0 : ports_[static_cast<std::size_t>(i)].base;
}

std::uint32_t SimulatedPc::TickCount() {
  SyncWithWallClock();
  return static_cast<std::uint32_t>(config_.start_tick + now_ns_ / kNsPerMs);
}

void SimulatedPc::Delay(std::int32_t ms) {
  SyncWithWallClock();
  if (ms <= 0) return;
  // Where a busy wait on the tick count would end: the tick boundary `ms`
  // ticks after the current one.
  const std::uint64_t end = (now_ns_ / kNsPerMs + static_cast<std::uint64_t>(ms)) * kNsPerMs;
  now_ns_ = std::max(now_ns_, end);
}

std::uint8_t SimulatedPc::Register(int unit, int reg) const { return instrument_->reg(unit - 1, reg); }

std::uint16_t SimulatedPc::Counter(int counter) const { return instrument_->acquisition().counter(counter); }

std::uint8_t SimulatedPc::RelayByte() const { return instrument_->front_end().relay(); }

InputStageState SimulatedPc::InputStage(int channel) const { return instrument_->front_end().State(channel - 1); }

std::array<std::uint8_t, 2> SimulatedPc::TrimOutputs(int channel) const {
  return instrument_->front_end().trim_outputs(channel - 1);
}

std::vector<std::uint16_t> SimulatedPc::ConverterWords(int channel) const {
  return instrument_->front_end().converter_words(channel - 1);
}

std::array<std::uint8_t, 256> SimulatedPc::EepromBytes() const { return instrument_->eeprom().memory(); }

std::uint16_t SimulatedPc::DacCode(int unit, int channel) const { return instrument_->dac(unit - 1).code(channel - 1); }

double SimulatedPc::DacVolts(int unit, int channel) const { return DacCode(unit, channel) * (20.0 / 4096.0) - 10.0; }

std::uint8_t SimulatedPc::MotorBits() const { return instrument_->reg(3, 10) & 3; }

double SimulatedPc::SampleRateHz() const { return instrument_->acquisition().SampleRateHz(); }

AcquisitionState SimulatedPc::Acquisition() {
  instrument_->acquisition().Advance(now_ns_);
  return instrument_->acquisition().State();
}

std::uint16_t SimulatedPc::RingSample(int channel, int address) {
  instrument_->acquisition().Advance(now_ns_);
  return instrument_->acquisition().Sample(channel - 1, address);
}

void SimulatedPc::SetInput(int channel, const SignalSource& source) {
  instrument_->SetSource(channel - 1, source, now_ns_);
}

void SimulatedPc::SetEepromBytes(const std::array<std::uint8_t, 256>& bytes) { instrument_->eeprom().memory() = bytes; }

void SimulatedPc::SetEepromByte(int address, std::uint8_t value) {
  instrument_->eeprom().memory()[static_cast<std::size_t>(address & 0xFF)] = value;
}

void SimulatedPc::SetWallClockCoupling(bool on) {
  config_.wall_clock_coupling = on;
  // Real time that passed while uncoupled does not count.
  wall_synced_ = std::chrono::steady_clock::now();
  synced_ns_ = now_ns_;
}

void SimulatedPc::AdvanceTime(std::uint64_t ns) { now_ns_ += ns; }

void SimulatedPc::SetObserver(InstrumentObserver* observer) { instrument_->SetObserver(observer); }

std::optional<SimulatedPc::PortLatches> SimulatedPc::InstrumentPort() const {
  if (instrument_base_ == 0) return std::nullopt;
  for (const Port& port : ports_) {
    if (port.base != 0 && static_cast<std::uint16_t>(instrument_base_ - port.base) < 3) return port;
  }
  return std::nullopt;
}

}  // namespace ru3::sim

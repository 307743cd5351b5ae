// Library-wide state of the exported functions and the helpers they share.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "instrument/DUDA3.h"
#include "instrument/FloatEnvironment.h"
#include "platform/host.h"
#include "ru3/ru3.h"

namespace ru3::api {

// Status codes.
inline constexpr std::uint16_t rcOk = RU3_OK;
inline constexpr std::uint16_t rcNoInstrument = RU3_NO_INSTRUMENT;
inline constexpr std::uint16_t rcNotInitialised = RU3_NOT_INITIALISED;
inline constexpr std::uint16_t rcNotAvailable = RU3_NOT_AVAILABLE;
inline constexpr std::uint16_t rcNoGenerator = RU3_NO_GENERATOR;
inline constexpr std::uint16_t rcBadChannel = RU3_BAD_CHANNEL;
inline constexpr std::uint16_t rcBadValue = RU3_BAD_VALUE;

// Holder of the handlers bound to the instrument's events.
class TEventHandler {
 public:
  TEventHandler();
  void HandleMeasurementReady(VOz3* sender);
  void HandleSettingsChanged(VOz3* sender);
  bool measurement_ready = false;  // set by HandleMeasurementReady, read by nobody
};

// Receiver of device messages. On Windows a hidden window; elsewhere the same
// handlers reached through DeliverDeviceMessage.
class TDeviceMessageReceiver {
 public:
  TDeviceMessageReceiver();
  static constexpr std::uint32_t kDeviceChange = 0x219;   // WM_DEVICECHANGE
  static constexpr std::uint32_t kDeviceArrived = 0x40D;  // WM_USER + 13
  void MDeviceChange() {}
  void WMDeviceArrived();

 private:
  std::unique_ptr<platform::DeviceWindow> window_;
};

struct LibraryState {
  std::unique_ptr<VOz3> Instrument;
  std::unique_ptr<TEventHandler> EventHandler;
  std::unique_ptr<TDeviceMessageReceiver> DeviceReceiver;
  bool InstrumentInitialised = false;
  bool DataFetched = false;
  std::array<double, 5> VoltPerCode{};  // [1..4]
  std::uint32_t MsgMeasurementReady = 0;
  std::uint32_t MsgTransUpdate = 0;
  std::uint32_t MsgTransReady = 0;
  std::uint32_t MsgSettingChanged = 0;
  std::int32_t SquareWaveGenFrequency = 0;
};

LibraryState& State();

// The instrument when it exists and is open; null otherwise (the presence
// check).
inline VOz3* Present() {
  VOz3* instrument = State().Instrument.get();
  return instrument != nullptr && instrument->bInstrumentOpen ? instrument : nullptr;
}

// Refreshes VoltPerCode of a channel from the range its buffer's record was
// measured on (which a range set since does not change).
inline void RefreshVoltPerCode(VOz3& instrument, int ch) {
  State().VoltPerCode[static_cast<std::size_t>(ch)] = static_cast<double>(instrument.RecordSensitivity(ch) / 32768.0L);
}

// Runs an export's body under the library lock, in the library's own
// floating-point environment; any exception becomes `on_failure` (exports
// never throw into the host).
template <typename R, typename Body>
R Guarded(R on_failure, Body&& body) noexcept {
  const FloatEnvironment environment;
  try {
    std::lock_guard lock(platform::LibraryMutex());
    return body();
  } catch (...) {
    return on_failure;
  }
}

// Load and unload of the library: the frame's state is set, and unloading
// performs ExitInstrument.
void LibraryLoaded();
void LibraryUnloading();

// A status export on the open instrument: under the library lock, the
// presence check first (no open instrument: rcNoInstrument), then
// `body(instrument)`; an exception becomes `on_failure`.
template <typename Body>
std::uint16_t OnInstrument(std::uint16_t on_failure, Body&& body) noexcept {
  return Guarded<std::uint16_t>(on_failure, [&]() -> std::uint16_t {
    VOz3* instrument = Present();
    if (instrument == nullptr) return rcNoInstrument;
    return body(instrument);
  });
}

// Delivers a device message to the receiver, as the hidden window's message
// loop does on Windows. Returns false when there is no receiver.
bool DeliverDeviceMessage(std::uint32_t message);

}  // namespace ru3::api

// The library frame: load and unload, InitInstrument and ExitInstrument, the
// event handler, the device-message receiver, the capability queries and the
// data-ready notification functions.
#include "api/Exportin.h"

#include <cmath>
#include <new>

namespace ru3::api {

LibraryState& State() {
  static LibraryState state;
  return state;
}

namespace {

#ifndef _WIN32
// Elsewhere than on Windows (where DllMain calls them) load and unload are
// the construction and destruction of this object.
struct LibraryLifetime {
  LibraryLifetime() { LibraryLoaded(); }
  ~LibraryLifetime() { LibraryUnloading(); }
};
const LibraryLifetime g_library_lifetime;
#endif

}  // namespace

void LibraryLoaded() {
  // The shared services are touched first so that they outlive the frame at
  // unload.
  (void)platform::LibraryMutex();
  platform::FlushBackend();
  (void)platform::RegisteredMessageNames();
  auto& state = State();
  state.Instrument.reset();
  state.EventHandler.reset();
  state.InstrumentInitialised = false;
  state.SquareWaveGenFrequency = 0;
}

void LibraryUnloading() {
  (void)ExitInstrument();
  platform::FlushBackend();
}

TDeviceMessageReceiver::TDeviceMessageReceiver()
    : window_(std::make_unique<platform::DeviceWindow>(
          [](std::uint32_t message) { (void)DeliverDeviceMessage(message); })) {}

TEventHandler::TEventHandler() {
  VOz3* instrument = State().Instrument.get();
  if (instrument == nullptr) return;
  instrument->OnMeasurementReady = [this](VOz3* sender) { HandleMeasurementReady(sender); };
  instrument->OnSettingsChanged = [this](VOz3* sender) { HandleSettingsChanged(sender); };
}

void TEventHandler::HandleMeasurementReady(VOz3* /*sender*/) { measurement_ready = true; }

void TEventHandler::HandleSettingsChanged(VOz3* /*sender*/) {
  VOz3* instrument = State().Instrument.get();
  if (instrument == nullptr) return;
  for (int ch = 1; ch <= 2; ++ch) {
    // Applies the current range again as SetSensitivity does: the range stays,
    // VoltPerCode is refreshed, and no further event follows.
    if (!instrument->bInstrumentOpen) continue;
    const long double range = instrument->Sensitivity(ch);
    instrument->SetSensitivity(ch, range);
    RefreshVoltPerCode(*instrument, ch);
  }
}

void TDeviceMessageReceiver::WMDeviceArrived() {
  // Polling resumes, with a fresh arming, only where measuring is on: an
  // arrival never measures for a host that has switched measuring off.
  VOz3* instrument = State().Instrument.get();
  if (instrument != nullptr && instrument->bEnableMeasurements) instrument->EnableTimer();
  platform::ShowMessage("WMDeviceArrived ");
}

bool DeliverDeviceMessage(std::uint32_t message) {
  return Guarded(false, [&] {
    TDeviceMessageReceiver* receiver = State().DeviceReceiver.get();
    if (receiver == nullptr) return false;
    if (message == TDeviceMessageReceiver::kDeviceChange) receiver->MDeviceChange();
    if (message == TDeviceMessageReceiver::kDeviceArrived) receiver->WMDeviceArrived();
    return true;
  });
}

}  // namespace ru3::api

using ru3::VOz3;
using ru3::api::Guarded;
using ru3::api::OnInstrument;
using ru3::api::Present;
using ru3::api::State;
using namespace ru3::api;  // status codes

extern "C" {

RU3_API uint16_t RU3_CALL InitInstrument(uint32_t address) noexcept {
  return Guarded<uint16_t>(rcNoInstrument, [&]() -> uint16_t {
    auto& state = State();
    if (state.Instrument) return state.Instrument->bInstrumentOpen ? rcOk : rcNoInstrument;

    // The simulator or the trace may have been chosen since the library was
    // loaded; a malformed simulator configuration finds no instrument.
    (void)ru3::platform::RefreshBackendFromEnvironment();

    try {
      state.Instrument = std::make_unique<VOz3>(nullptr);
      state.EventHandler = std::make_unique<TEventHandler>();
    } catch (const std::bad_alloc&) {
      state.EventHandler.reset();
      state.Instrument.reset();
      return rcNoInstrument;
    }
    try {
      state.DeviceReceiver = std::make_unique<TDeviceMessageReceiver>();
    } catch (...) {
      // The receiver is a convenience; the instrument works without it.
    }

    VOz3& instrument = *state.Instrument;
    for (int ch = 1; ch <= 4; ++ch) instrument.SetAutoRanging(ch, false);
    for (int ch = 1; ch <= 4; ++ch) ru3::api::RefreshVoltPerCode(instrument, ch);
    instrument.SetAcquisitionMode(ru3::TAcquisitionMode::amHold);

    if (state.InstrumentInitialised) return rcNoInstrument;
    if (instrument.bUseInitAddress) instrument.nHardwareAddress = static_cast<int32_t>(address & 0xFFFF);

    if (!instrument.InitHardware()) return rcNoInstrument;

    state.InstrumentInitialised = true;
    state.DataFetched = true;
    state.MsgMeasurementReady = ru3::platform::RegisterWindowMessageName("Zirire: MeasurementReady");
    state.MsgTransUpdate = ru3::platform::RegisterWindowMessageName("Zirire: TransUpdate");
    state.MsgTransReady = ru3::platform::RegisterWindowMessageName("Zirire: TransReady");
    state.MsgSettingChanged = ru3::platform::RegisterWindowMessageName("Zirire: SettingChanged");
    (void)instrument.RegisterMessageTarget(4, state.MsgTransUpdate);
    (void)instrument.RegisterMessageTarget(5, state.MsgTransReady);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL ExitInstrument(void) noexcept {
  return Guarded<uint16_t>(rcOk, [&]() -> uint16_t {
    auto& state = State();
    if (!state.Instrument) return rcOk;
    state.Instrument->CloseHardware();
    state.Instrument.reset();
    state.EventHandler.reset();
    state.DeviceReceiver.reset();
    // Cleared so that a later InitInstrument opens the instrument again.
    state.InstrumentInitialised = false;
    ru3::platform::FlushBackend();
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetNrChannels(uint16_t* channels) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (channels == nullptr) return rcBadValue;
    *channels = instrument->wNrChannels;
    return rcOk;
  });
}

RU3_API int32_t RU3_CALL GetMaxRecordLength(void) noexcept {
  return Guarded<int32_t>(0, [&]() -> int32_t {
    VOz3* instrument = Present();
    return instrument != nullptr ? instrument->nMaxRecordLength : 0;
  });
}

RU3_API double RU3_CALL GetMaxSampleFrequencyF(void) noexcept {
  return Guarded<double>(0.0, [&]() -> double {
    VOz3* instrument = Present();
    return instrument != nullptr ? static_cast<double>(instrument->rMaxSampleFreq) : 0.0;
  });
}

RU3_API int32_t RU3_CALL GetMaxSampleFrequency(void) noexcept {
  return Guarded<int32_t>(0, [&]() -> int32_t {
    VOz3* instrument = Present();
    if (instrument == nullptr) return 0;
    return static_cast<int32_t>(ru3::RoundHalfEven(static_cast<double>(instrument->rMaxSampleFreq)));
  });
}

RU3_API int32_t RU3_CALL GetDCLevelStatus(void) noexcept {
  return Guarded<int32_t>(rcNoInstrument, [&]() -> int32_t {
    VOz3* instrument = Present();
    if (instrument == nullptr) return rcNoInstrument;
    return instrument->bDcLevel ? rcOk : rcNotAvailable;
  });
}

RU3_API uint16_t RU3_CALL GetSquareWaveGenStatus(void) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    return instrument->bSquareWaveGen ? rcOk : rcNoGenerator;
  });
}

RU3_API uint16_t RU3_CALL GetFunctionGenStatus(void) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    return instrument->bFunctionGen ? rcOk : rcNoGenerator;
  });
}

RU3_API uint16_t RU3_CALL GetFuncGenMaxAmplitude(double* amplitude) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!instrument->bFunctionGen) return rcNoGenerator;
    if (amplitude == nullptr) return rcBadValue;
    *amplitude = static_cast<double>(instrument->rFuncGenMaxAmplitude);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetDataReadyCallback(uint32_t callback) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!ru3::KindHasTransferMode(instrument->byInstrumentKind)) return rcNotAvailable;
    instrument->pDataReadyCallback = callback;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetDataReadyEvent(uint32_t event) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!ru3::KindHasTransferMode(instrument->byInstrumentKind)) return rcNotAvailable;
    instrument->hDataReadyEvent = event;
    return rcOk;
  });
}

}  // extern "C"

// The measurement and data functions: starting, watching and stopping
// measurements, and reading the records as raw codes or volts.
//
// Three styles are offered. Block style: ADC_Start arms, the host polls
// ADC_Ready, and the first read of the ADC_GetData family fetches the record
// from the instrument (DataFetched tells whether that has happened).
// Synchronous: StartMeasurement returns with one complete record. Timer
// driven: DoMeasure lets the object's 1 ms poll timer measure by itself, and
// the host reads the channel buffers with GetMeasurement and its siblings.
#include <cstring>

#include "api/Exportin.h"

namespace ru3::api {
namespace {

// Samples per channel a host buffer must hold.
std::int32_t RecordLength(const VOz3& instrument) {
  const std::int32_t length = instrument.lRecordLength;
  if (length < 0) return 0;
  return length > kMaxRecordLength ? kMaxRecordLength : length;
}

// Channel numbers are 16-bit values; 1..number of channels.
bool ValidChannel(const VOz3& instrument, std::uint32_t ch) {
  const std::uint32_t channel = ch & 0xFFFF;
  return channel >= 1 && channel <= instrument.wNrChannels;
}

bool ValidIndex(const VOz3& instrument, std::int32_t index) { return index >= 0 && index < RecordLength(instrument); }

// Volts of a raw code: (code - 32768) as a 32-bit integer, multiplied by the
// channel's factor in extended precision, stored as a double. 32768 gives
// exactly 0 V, 0 gives -range.
double CodeToVolts(std::uint16_t code, double factor) {
  const std::int32_t difference = static_cast<std::int32_t>(code) - 32768;
  return static_cast<double>(static_cast<long double>(difference) * static_cast<long double>(factor));
}

// Reads the record from the instrument unless the latest one has already been
// fetched.
void FetchOnce(VOz3& instrument) {
  LibraryState& state = State();
  if (state.DataFetched) return;
  instrument.FetchData();
  state.DataFetched = true;
}

void SetMeasuring(VOz3& instrument, std::int32_t mode) {
  if (mode == 0) {
    instrument.SetEnableMeasurements(false);
    return;
  }
  instrument.SetAcquisitionMode(mode == -1 ? TAcquisitionMode::amContinuous : TAcquisitionMode::amOneShot);
  instrument.SetEnableMeasurements(true);
}

void CopyRaw(const VOz3& instrument, int ch, std::uint16_t* destination) {
  std::memcpy(destination, instrument.ChannelData(ch),
              static_cast<std::size_t>(RecordLength(instrument)) * sizeof(std::uint16_t));
}

// The conversions take each channel's factor from the range its record was
// measured on, refreshed first: a record never gets the factor of a range
// chosen after it was taken.
void ConvertTwo(VOz3& instrument, double* ch1, double* ch2) {
  RefreshVoltPerCode(instrument, 1);
  RefreshVoltPerCode(instrument, 2);
  const std::int32_t length = RecordLength(instrument);
  const std::uint16_t* data1 = instrument.pDataCh1;
  const std::uint16_t* data2 = instrument.pDataCh2;
  const double factor1 = State().VoltPerCode[1];
  const double factor2 = State().VoltPerCode[2];
  for (std::int32_t i = 0; i < length; ++i) {
    ch1[i] = CodeToVolts(data1[i], factor1);
    ch2[i] = CodeToVolts(data2[i], factor2);
  }
}

void ConvertOne(VOz3& instrument, int ch, double* destination) {
  RefreshVoltPerCode(instrument, ch);
  const std::int32_t length = RecordLength(instrument);
  const std::uint16_t* data = instrument.ChannelData(ch);
  const double factor = State().VoltPerCode[static_cast<std::size_t>(ch)];
  for (std::int32_t i = 0; i < length; ++i) destination[i] = CodeToVolts(data[i], factor);
}

}  // namespace
}  // namespace ru3::api

using ru3::VOz3;
using ru3::api::Guarded;
using ru3::api::OnInstrument;
using ru3::api::Present;
using ru3::api::State;
using namespace ru3::api;  // status codes and helpers

extern "C" {

// ---- Measurement control ------------------------------------------------

RU3_API uint16_t RU3_CALL StartMeasurement(void) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (!State().InstrumentInitialised) return rcNotInitialised;
    instrument->BlockingMeasure();
    State().DataFetched = true;
    // The measure closes the object when the instrument has gone.
    if (!instrument->bInstrumentOpen) return rcNoInstrument;
    for (int ch = 1; ch <= 4; ++ch) RefreshVoltPerCode(*instrument, ch);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL ADC_Start(void) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (!State().InstrumentInitialised) return rcNotInitialised;
    switch (instrument->tmTransferMode) {
      case ru3::TTransferMode::tmBlock:
        instrument->StartAcquisition();
        State().DataFetched = false;
        break;
      case ru3::TTransferMode::tmStream: {
        const std::int32_t length = RecordLength(*instrument);
        for (std::int32_t i = 0; i < length; ++i) {
          instrument->pDataCh1[i] = 32768;
          instrument->pDataCh2[i] = 32768;
        }
        State().DataFetched = true;
        SetMeasuring(*instrument, -1);
        break;
      }
    }
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL ADC_Running(void) noexcept {
  return Guarded<uint16_t>(0, [&]() -> uint16_t {
    VOz3* instrument = Present();
    if (instrument == nullptr) return 0;
    return instrument->IsRunning() ? 1 : 0;
  });
}

RU3_API uint16_t RU3_CALL ADC_Ready(void) noexcept {
  return Guarded<uint16_t>(0, [&]() -> uint16_t {
    VOz3* instrument = Present();
    if (instrument == nullptr) return 0;
    (void)ru3::HoldingOff(*instrument);  // a full pre-trigger part ends the hold-off
    return instrument->IsReady() ? 1 : 0;
  });
}

RU3_API uint16_t RU3_CALL ADC_Triggered(void) noexcept {
  return Guarded<uint16_t>(0, [&]() -> uint16_t {
    VOz3* instrument = Present();
    if (instrument == nullptr) return 0;
    (void)ru3::HoldingOff(*instrument);
    return instrument->IsTriggered();
  });
}

RU3_API uint16_t RU3_CALL ADC_Abort(void) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (!State().InstrumentInitialised) return rcNotInitialised;
    switch (instrument->tmTransferMode) {
      case ru3::TTransferMode::tmBlock:
        instrument->Abort();
        break;
      case ru3::TTransferMode::tmStream:
        SetMeasuring(*instrument, 0);
        break;
    }
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL ADC_ForceTrig(void) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (!State().InstrumentInitialised) return rcNotInitialised;
    instrument->ForceTrigger();
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL DoMeasure(int32_t mode) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (!State().InstrumentInitialised) return rcNotInitialised;
    SetMeasuring(*instrument, mode);
    return rcOk;
  });
}

// ---- Read-out with fetch ------------------------------------------------

RU3_API uint16_t RU3_CALL ADC_GetData(uint16_t* ch1, uint16_t* ch2) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (ch1 == nullptr || ch2 == nullptr) return rcBadValue;
    FetchOnce(*instrument);
    // A read-out that lost the instrument closed the object: no record.
    if (!instrument->bInstrumentOpen) return rcNoInstrument;
    CopyRaw(*instrument, 1, ch1);
    CopyRaw(*instrument, 2, ch2);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL ADC_GetDataVolt(double* ch1, double* ch2) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (ch1 == nullptr || ch2 == nullptr) return rcBadValue;
    FetchOnce(*instrument);
    // A read-out that lost the instrument closed the object: no record.
    if (!instrument->bInstrumentOpen) return rcNoInstrument;
    ConvertTwo(*instrument, ch1, ch2);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL ADC_GetDataCh(uint32_t ch, uint16_t* data) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (!ValidChannel(*instrument, ch)) return rcBadChannel;
    if (data == nullptr) return rcBadValue;
    FetchOnce(*instrument);
    // A read-out that lost the instrument closed the object: no record.
    if (!instrument->bInstrumentOpen) return rcNoInstrument;
    CopyRaw(*instrument, static_cast<int>(ch & 0xFFFF), data);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL ADC_GetDataVoltCh(uint32_t ch, double* data) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (!ValidChannel(*instrument, ch)) return rcBadChannel;
    if (data == nullptr) return rcBadValue;
    const int channel = static_cast<int>(ch & 0xFFFF);
    FetchOnce(*instrument);
    // A read-out that lost the instrument closed the object: no record.
    if (!instrument->bInstrumentOpen) return rcNoInstrument;
    ConvertOne(*instrument, channel, data);
    return rcOk;
  });
}

// ---- Read-out of the channel buffers as they stand ----------------------

RU3_API uint16_t RU3_CALL GetMeasurement(double* ch1, double* ch2) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (ch1 == nullptr || ch2 == nullptr) return rcBadValue;
    ConvertTwo(*instrument, ch1, ch2);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetMeasurementRaw(uint16_t* ch1, uint16_t* ch2) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (ch1 == nullptr || ch2 == nullptr) return rcBadValue;
    CopyRaw(*instrument, 1, ch1);
    CopyRaw(*instrument, 2, ch2);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetOneMeasurement(int32_t index, double* ch1, double* ch2) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    // The factors are refreshed first, also for a call that is refused.
    RefreshVoltPerCode(*instrument, 1);
    RefreshVoltPerCode(*instrument, 2);
    if (ch1 == nullptr || ch2 == nullptr || !ValidIndex(*instrument, index)) return rcBadValue;
    *ch1 = CodeToVolts(instrument->pDataCh1[index], State().VoltPerCode[1]);
    *ch2 = CodeToVolts(instrument->pDataCh2[index], State().VoltPerCode[2]);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetOneMeasurementRaw(int32_t index, uint16_t* ch1, uint16_t* ch2) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (ch1 == nullptr || ch2 == nullptr || !ValidIndex(*instrument, index)) return rcBadValue;
    *ch1 = instrument->pDataCh1[index];
    *ch2 = instrument->pDataCh2[index];
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetOneMeasurementRawCh(uint32_t ch, int32_t index, uint16_t* value) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (!ValidChannel(*instrument, ch)) return rcBadChannel;
    if (value == nullptr || !ValidIndex(*instrument, index)) return rcBadValue;
    *value = instrument->ChannelData(static_cast<int>(ch & 0xFFFF))[index];
    return rcOk;
  });
}

// ---- Digital inputs (none on this instrument) ---------------------------

RU3_API uint16_t RU3_CALL GetDigitalInputValues(uint16_t* values) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (instrument->nNrDigitalInputs == 0) return rcNotAvailable;
    if (values == nullptr) return rcBadValue;
    std::memset(values, 0, static_cast<std::size_t>(RecordLength(*instrument)) * sizeof(std::uint16_t));
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetOneDigitalValue(uint32_t /*unused*/, uint16_t* value) noexcept {
  return OnInstrument(rcNoInstrument, [&](VOz3* instrument) -> uint16_t {
    if (instrument->nNrDigitalInputs == 0) return rcNotAvailable;
    if (value == nullptr) return rcBadValue;
    *value = 0;
    return rcOk;
  });
}

}  // extern "C"

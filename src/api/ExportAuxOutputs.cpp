// The auxiliary-output exports: which of up to four units on the port the
// library addresses, the two-channel DAC and the two motor outputs of unit 4.
// Only the low byte of a unit number or motor switch counts; without an open
// instrument nothing is touched.
#include <cstdint>

#include "api/Exportin.h"

using ru3::VOz3;
using ru3::api::OnInstrument;
using namespace ru3::api;  // status codes

extern "C" {

// ---- Unit selection, DAC, motor ---------------------------------------------
// Without an open instrument these touch nothing (its port address may be 0,
// which is not a printer port) and report rcNoInstrument.

RU3_API uint16_t RU3_CALL GetActiveRU3(uint8_t* unit) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (unit == nullptr) return rcBadValue;
    *unit = static_cast<uint8_t>(instrument->nActiveUnit & 0xFF);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetActiveRU3(uint32_t unit) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    instrument->SelectUnit(static_cast<int32_t>(unit & 0xFFU));
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetDAC7394(double ch1, double ch2) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    instrument->SetDac(static_cast<long double>(ch1), static_cast<long double>(ch2));
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetMotorOn(uint32_t first, uint32_t second) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    instrument->SetMotor((first & 0xFFU) != 0, (second & 0xFFU) != 0);
    return rcOk;
  });
}

}  // extern "C"

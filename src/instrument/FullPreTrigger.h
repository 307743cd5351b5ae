// Full pre-trigger records and the facts of the record in the buffers.
//
// The instrument triggers from the moment it is armed, so a trigger that
// comes before the pre-trigger part has been sampled cuts the record short.
// With full pre-trigger on, the arm programs the trigger source that never
// fires and holds the trigger off until the pre-trigger part is sampled; the
// next poll step (or ready/triggered query) then programs the real source,
// and the trigger time-out counts from there. Off, the traffic is the
// original's. The facts of each record read (its sequence number, rate,
// ranges, trigger position...) are kept beside it for hosts to read.
#pragma once

#include <array>
#include <cstdint>

namespace ru3 {

class VOz3;

// What one record in the channel buffers is.
struct TRecordFacts {
  std::uint32_t nSequence = 0;  // 0: no record read yet; then 1, 2, ... (wraps past 0 to 1)
  long double rSampleFreq = 0.0L;
  std::array<long double, 3> arRange{};       // [1..2] full scale, volts
  std::array<std::uint8_t, 3> abyCoupling{};  // [1..2]
  std::int32_t nUnit = 1;
  std::int32_t lLength = 0;           // positions of the record
  std::int32_t lTriggerPosition = 0;  // where the trigger (or force) registered
  std::int32_t lFirstSample = 0;      // first position holding a sample
  bool bForced = false;               // not ended by its trigger condition
  bool bHeldOff = false;              // armed with the pre-trigger hold-off
  std::uint8_t byChannels = 0;        // bit 0 channel 1, bit 1 channel 2 read into the buffers
};

struct TRecordExtension {
  bool bOn = false;                                // the host's choice; off after every opening
  bool bHoldingOff = false;                        // armed on the never-firing source, pre-trigger part not yet full
  bool bForcePending = false;                      // a force came during the hold-off: it fires when the hold-off ends
  bool bHeldOffAtArm = false;                      // the record under way was armed with the hold-off
  std::array<std::uint8_t, 3> abyArmedCoupling{};  // [1..2], couplings the record was armed with
  std::uint8_t byArmedUnitBits = 0;                // unit-select bits of the unit it was armed on
  std::int32_t lFirstStored = 0;                   // first buffer position the last channel read stored
  TRecordFacts Record;
};

// Hooks of the acquisition engine and the read-out.
// In the arm, in place of programming the trigger source: the never-firing
// source while the pre-trigger part fills, else the real one.
void ProgramSourceOrHoldOff(VOz3& instrument);
// At a poll step and at the ready and triggered queries: ends the hold-off
// once the pre-trigger part is full (programs the real source, or the force
// that came meanwhile, and restarts the time-out). True while it lasts.
bool HoldingOff(VOz3& instrument);
// In the force: during the hold-off the force is kept for its end. True then
// (the caller writes nothing).
bool DeferForce(VOz3& instrument);
// At the end of a read-out, with the status register it began with.
void NoteRecordRead(VOz3& instrument, std::uint16_t status);

}  // namespace ru3

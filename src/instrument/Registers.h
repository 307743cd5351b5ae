// The instrument's register map: every register number, bit, strobe, code and
// table the library writes to or reads from the RU3, named once.
//
// The instrument has sixteen 4-bit write registers reached over the printer
// port (Link.cpp); reading goes through the read-back select register. Many
// registers carry more than one device's lines, so the values are grouped by
// register below. A "pulse" of v is v followed by 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "instrument/Enums.h"

namespace ru3::reg {

// ---- Printer-port lines of the link ------------------------------------------

inline constexpr std::uint16_t kStatusPortOffset = 1;   // status port: base + 1
inline constexpr std::uint16_t kControlPortOffset = 2;  // control port: base + 2

inline constexpr std::uint8_t kControlIdle = 0x04;           // control port: init high, no strobe
inline constexpr std::uint8_t kControlAddressStrobe = 0x0C;  // control port: select-in (address cycle)
inline constexpr std::uint8_t kControlDataStrobe = 0x06;     // control port: auto-feed (data cycle)

inline constexpr std::uint8_t kDataFixedBits = 0xC0;   // data port bits 6-7, set in every link byte
inline constexpr std::uint8_t kDataNibbleMask = 0x0F;  // data port bits 0-3: the nibble transferred
inline constexpr std::uint8_t kDataReadClock = 0x80;   // data bit 7: high-nibble select / sample read clock
inline constexpr std::uint8_t kDataLaneCh1 = 0x40;     // data bit 6: register read-back and channel 1 lane
inline constexpr std::uint8_t kNibbleIdle = 15;        // the nibble the data lines rest at
inline constexpr int kStatusNibbleShift = 3;           // status bits 3-6 carry the returned nibble
inline constexpr std::uint8_t kStatusNibbleMask = 0x0F;

// Data-port bits 4-5: which of up to four units on the port is addressed.
inline constexpr std::uint8_t kUnitBitsMask = 0x30;
inline constexpr int kUnitBitsShift = 4;
inline constexpr std::uint8_t kUnitOneBits = 0x30;  // unit 1 (the unit at load and at identification)
inline constexpr std::int32_t kUnitCount = 4;       // units 1..4
// Bits of units 1..4: 11, 10, 01, 00.
constexpr std::uint8_t UnitBits(std::int32_t unit) { return static_cast<std::uint8_t>((4 - unit) << kUnitBitsShift); }
// Index 0..3 of the unit whose bits are `bits`.
constexpr std::size_t UnitIndex(std::uint8_t bits) {
  return static_cast<std::size_t>(3 - ((bits >> kUnitBitsShift) & 3));
}

// ---- Registers ---------------------------------------------------------------

inline constexpr std::uint16_t kRegRun = 0;               // write: read-out/arm control; read: write pointer low byte
inline constexpr std::uint16_t kRegWritePointerLow = 0;   // read back: write pointer count, low byte
inline constexpr std::uint16_t kRegStrobe = 1;            // write: pulsed commands (take clock, arm, seek, reset)
inline constexpr std::uint16_t kRegWritePointerHigh = 1;  // read back: write pointer count, high byte
inline constexpr std::uint16_t kRegStatus = 2;            // read back: status bits (kStatus...)
inline constexpr std::uint16_t kRegSampleLane = 3;        // read back: the sample data lane (read-back select 3)
inline constexpr std::uint16_t kRegSerial = 5;            // serial lines of latches, converters, relays, trims, DAC
inline constexpr std::uint16_t kRegBus = 6;               // two-wire bus lines to the EEPROM
inline constexpr std::uint16_t kRegClockSelect = 7;       // clock selection code plus a run/seek offset
inline constexpr std::uint16_t kRegConverterData = 8;     // data bit of converter 1 (bit 0) or 2 (bit 1)
inline constexpr std::uint16_t kRegDeviceSelect = 9;      // selects trim converters and DAC channels
inline constexpr std::uint16_t kRegTriggerSource = 10;    // trigger source; on unit 4 the motor outputs
inline constexpr std::uint16_t kRegMotor = 10;            // motor outputs (written with unit 4's bits)
inline constexpr std::uint16_t kRegTriggerKind = 11;      // trigger comparison kind
inline constexpr std::uint16_t kRegConverterLoad = 12;    // load line of the serial converters
inline constexpr std::uint16_t kRegAcqMode = 13;          // acquisition mode
inline constexpr std::uint16_t kRegPrescaler = 14;        // sample-clock prescaler code
inline constexpr std::uint16_t kRegReadBackSelect = 15;   // chooses what the instrument presents for reading

// The 16-bit counters, each loaded through four latches strobed by its register.
inline constexpr std::uint16_t kCounterTriggerLevels = 2;  // trigger levels: high byte B, low byte A
inline constexpr std::uint16_t kCounterClockDivider = 3;   // sample-clock divider
inline constexpr std::uint16_t kCounterPostTrigger = 4;    // post-trigger sample count
inline constexpr int kLatchCount = 4;                      // latches (nibbles) per counter

// Register 0 values.
inline constexpr std::uint16_t kRunIdle = 0;     // neither reading out nor arming
inline constexpr std::uint16_t kRunReadOut = 1;  // read-out of the sample lane
inline constexpr std::uint16_t kRunArm = 2;      // arm the acquisition

// Register 1 pulses.
inline constexpr std::uint16_t kStrobeNone = 0;          // the closing half of every pulse
inline constexpr std::uint16_t kStrobeTakeClock = 1;     // take the new prescaler and divider
inline constexpr std::uint16_t kStrobeResetAddress = 4;  // read address to the memory start
inline constexpr std::uint16_t kStrobeSeek = 6;          // start the seek run
inline constexpr std::uint16_t kStrobeArm = 14;          // start the acquisition

// Register 2 (status) bits.
inline constexpr std::uint16_t kStatusTrigCh1 = 0x01;       // trigger seen on channel 1
inline constexpr std::uint16_t kStatusTrigCh2 = 0x02;       // trigger seen on channel 2
inline constexpr std::uint16_t kStatusTrigExternal = 0x04;  // trigger seen on the external input
inline constexpr std::uint16_t kStatusDataLine = 0x10;      // the two-wire bus data line
inline constexpr std::uint16_t kStatusWrapped = 0x40;       // the ring memory filled at least once since arming
inline constexpr std::uint16_t kStatusBusy = 0x80;          // armed or sampling; clear once the record is complete

// Register 5: the serial lines. Their meaning depends on the device driven.
inline constexpr std::uint16_t kSerialClock = 0x01;       // clock of converters, trim converters and DAC
inline constexpr std::uint16_t kSerialFrameOff = 0x02;    // converter frame, active low
inline constexpr std::uint16_t kSerialData = 0x04;        // data of latches, relays, trims, DAC; converter start line
inline constexpr std::uint16_t kSerialRelayClock = 0x08;  // clock of the input-relay shift register
inline constexpr std::uint16_t kSerialIdle = 0;           // all serial lines low
inline constexpr std::uint16_t kLatchAddressMask = 0x03;  // latch loading: bit address in bits 0-1
// Converter shifting.
inline constexpr std::uint16_t kShiftIdle = kSerialData | kSerialFrameOff | kSerialClock;  // 7: frame off, start high
inline constexpr std::uint16_t kShiftStartPulse = kSerialFrameOff | kSerialClock;          // 3: start line low
inline constexpr std::uint16_t kShiftClockHigh = kSerialData | kSerialClock;               // 5: frame on, clock high
inline constexpr std::uint16_t kShiftClockLow = kSerialData;                               // 4: frame on, clock low

// Register 6: the two-wire bus lines.
inline constexpr std::uint16_t kBusAlwaysOn = 0x08;   // bit 3, set in every bus write
inline constexpr std::uint16_t kBusDriveData = 0x04;  // bit 2: the data driver is on
inline constexpr std::uint16_t kBusDataHigh = 0x02;   // bit 1: data level
inline constexpr std::uint16_t kBusClockHigh = 0x01;  // bit 0: clock level

// Register 7: clock selection code plus an offset.
inline constexpr std::uint16_t kClockSelectNormal = 8;  // the selection code of the 200 kHz variant, and of 400 kHz
inline constexpr std::uint16_t kClockSelectFast = 0;    // the fast variant's divided clocks
inline constexpr std::uint16_t kClockRun = 1;           // offset: normal running
inline constexpr std::uint16_t kClockSeek = 3;          // offset: the seek run before a read-out

// Register 8: converter data bits.
inline constexpr std::uint16_t kConverterDataNone = 0;  // idle
inline constexpr std::uint16_t kConverterData1 = 0x01;  // data bit of converter 1
inline constexpr std::uint16_t kConverterData2 = 0x02;  // data bit of converter 2

// Register 9: device selects.
inline constexpr std::uint16_t kSelectNone = 3;        // nothing selected
inline constexpr std::uint16_t kSelectTrimCh1 = 2;     // trim converter of channel 1
inline constexpr std::uint16_t kSelectTrimCh2 = 1;     // trim converter of channel 2
inline constexpr std::uint16_t kSelectDacFirst = 7;    // first DAC channel
inline constexpr std::uint16_t kSelectDacSecond = 11;  // second DAC channel

// Register 10: trigger sources (table below), the force command, the motors.
inline constexpr std::uint16_t kTrigSourceCh1 = 0;               // channel 1
inline constexpr std::uint16_t kTrigSourceCh2 = 1;               // channel 2
inline constexpr std::uint16_t kTrigSourceExternal = 2;          // the external input
inline constexpr std::uint16_t kTrigSourceFree = 3;              // free-running; also the force-trigger command
inline constexpr std::uint16_t kTrigSourceNever = 7;             // never triggers
inline constexpr std::uint16_t kForceTrigger = kTrigSourceFree;  // forces a trigger now
inline constexpr std::uint16_t kMotorFirst = 0x01;               // first motor output on
inline constexpr std::uint16_t kMotorSecond = 0x02;              // second motor output on
inline constexpr std::int32_t kMotorUnit = 4;                    // the unit the motors hang on

// Register 11: trigger comparison kinds.
inline constexpr std::uint16_t kTrigKindDefault = 2;  // kinds 1, 2 and every other
inline constexpr std::uint16_t kTrigKindFirst = 4;    // kind 0
inline constexpr std::uint16_t kTrigKindFourth = 5;   // kind 3

// Register 12: load line of the converters.
inline constexpr std::uint16_t kLoadLow = 0;   // held while shifting
inline constexpr std::uint16_t kLoadHigh = 1;  // the word is taken; also set on arming

// Register 13: acquisition modes.
inline constexpr std::uint16_t kAcqReadOut = 0;  // reading the sample lane
inline constexpr std::uint16_t kAcqStop = 2;     // stopped, after a read-out or a seek
inline constexpr std::uint16_t kAcqArm = 7;      // arming
inline constexpr std::uint16_t kAcqSeek = 10;    // seek run to the read-out start
inline constexpr std::uint16_t kAcqRun = 15;     // sampling, waiting for the trigger

// Register 14: prescaler codes 0..7 (table below).
inline constexpr std::uint16_t kPrescalerFastest = 0;  // divide by 1

// Register 15: read-back selections other than a register number.
inline constexpr std::uint16_t kReadBackSampleLane = kRegSampleLane;  // the sample data lane

// ---- Words shifted into the devices -------------------------------------------

inline constexpr std::uint16_t kConverterCh1 = 1;  // serial converter of channel 1 (ShiftOut16 target)
inline constexpr std::uint16_t kConverterCh2 = 2;  // serial converter of channel 2

inline constexpr std::uint16_t kConverterReset = 0x4000;      // first word to both converters of a front-end upload
inline constexpr std::uint16_t kConverterSetup = 0xC300;      // opens a converter load
inline constexpr std::uint16_t kConverterWrite = 0x8000;      // bit 15 of a value word
inline constexpr std::uint16_t kConverterValueMask = 0x3FFF;  // 14-bit value of a value word
inline constexpr std::uint16_t kConverterFill = 0x2000;       // value of the eight closing words
inline constexpr int kConverterFillWords = 8;
inline constexpr int kConverterWordBits = 16;

inline constexpr std::uint16_t kTrimMax = 255;           // largest trim value
inline constexpr std::uint16_t kTrimSecondOutput = 256;  // bit 8 of a trim word: the second output
inline constexpr int kTrimWordBits = 10;

inline constexpr std::uint8_t kRelayCouplingCh1 = 0x01;  // relay bit cleared by coupling code 1 on channel 1
inline constexpr std::uint8_t kRelayCouplingCh2 = 0x10;  // relay bit cleared by coupling code 1 on channel 2
inline constexpr std::uint8_t kCouplingRelayOff = 1;     // the coupling code that clears the channel's bit

inline constexpr std::uint16_t kDacFirstBit = 0x800;  // DAC codes: 12 bits, most significant first

inline constexpr std::uint16_t kTrigLevelInvert = 0xFF;  // levels are sent inverted
inline constexpr std::int64_t kTrigLevelMax = 255;       // levels are clamped to 0..255

// ---- Counters -------------------------------------------------------------------

inline constexpr std::uint16_t kCounterFull = 0xFFFF;    // divider value of the undivided clock
inline constexpr std::int32_t kWritePointerTop = 32765;  // newest sample = this - (count >> 1)

// ---- Variant byte -----------------------------------------------------------------

inline constexpr std::uint8_t kVariantFast = 0x11;  // the variant that samples at 400 kHz

// ---- Tables ---------------------------------------------------------------------

// The sample-clock prescalers: a frequency below threshold base / `below`
// takes the first matching entry; from the threshold base up, divide by 1.
struct Prescaler {
  std::int32_t divide;  // the prescaler factor P
  std::uint16_t code;   // its register 14 code
};
struct PrescalerStep {
  std::int32_t below;  // applies below threshold base / below
  Prescaler prescaler;
};
inline constexpr std::array<PrescalerStep, 7> kPrescalerSteps{{
    {64, {1024, 7}},
    {32, {64, 6}},
    {16, {32, 5}},
    {8, {16, 4}},
    {4, {8, 3}},
    {2, {4, 2}},
    {1, {2, 1}},
}};
inline constexpr Prescaler kPrescalerNone{1, kPrescalerFastest};  // from the threshold base up
inline constexpr Prescaler kPrescalerSlowest{1024, 7};            // rates below the divider's reach

// Input-relay masks per range index 1..12 (index 0 unused): the 0 bit
// selects the channel's range group, bits 0 and 4 are the coupling bits.
inline constexpr std::array<std::uint16_t, 13> kRelayMaskCh1{
    0,                             // unused
    0xFD, 0xFD, 0xFD, 0xFD,        // ranges 1-4: 0.1 to 0.8 V
    0xFB, 0xFB, 0xFB,              // ranges 5-7: 2 to 8 V
    0xF7, 0xF7, 0xF7, 0xF7, 0xF7,  // ranges 8-12: 20 to 80 V (11 and 12 never selected)
};
inline constexpr std::array<std::uint16_t, 13> kRelayMaskCh2{
    0,                             // unused
    0xDF, 0xDF, 0xDF, 0xDF,        // ranges 1-4
    0xBF, 0xBF, 0xBF,              // ranges 5-7
    0x7F, 0x7F, 0x7F, 0x7F, 0x7F,  // ranges 8-12
};

// Register 11 code of trigger kinds 0..6; any other kind takes kTrigKindDefault.
inline constexpr std::array<std::uint16_t, 7> kTrigKindCodes{kTrigKindFirst,  kTrigKindDefault, kTrigKindDefault,
                                                             kTrigKindFourth, kTrigKindDefault, kTrigKindDefault,
                                                             kTrigKindDefault};
constexpr std::uint16_t TrigKindCode(std::uint8_t kind) {
  return kind < kTrigKindCodes.size() ? kTrigKindCodes[kind] : kTrigKindDefault;
}

// Register 10 code of each trigger source, by its number; the sources this
// instrument lacks run free.
inline constexpr std::array<std::uint16_t, 16> kTrigSourceCodes{
    kTrigSourceCh1,      kTrigSourceCh2,  kTrigSourceFree,  kTrigSourceFree,   // ch1..ch4
    kTrigSourceExternal, kTrigSourceFree, kTrigSourceFree,  kTrigSourceFree,   // ext, ana-ext, and, or
    kTrigSourceFree,     kTrigSourceFree, kTrigSourceNever, kTrigSourceFree,   // xor, none, never, pxi
    kTrigSourceFree,     kTrigSourceFree, kTrigSourceFree,  kTrigSourceFree};  // generator, unknown
constexpr std::uint16_t TrigSourceCode(TTrigSource source) {
  const auto n = static_cast<std::size_t>(source);
  return n < kTrigSourceCodes.size() ? kTrigSourceCodes[n] : kTrigSourceFree;
}

}  // namespace ru3::reg

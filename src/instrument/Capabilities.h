// What each instrument model can do, as one constant table, and the model
// codes the exported functions single out.
//
// The instrument object copies its model's entry into its capability fields
// at construction; the exports read those fields (and the kind predicates
// below) to refuse what the model lacks. This library drives one model, the
// RU3 (model code 7); the other codes only decide which exports answer
// "not available".
#pragma once

#include <array>
#include <cstdint>

namespace ru3 {

inline constexpr std::uint8_t kKindRu3 = 7;  // the model this library drives

struct TCapabilities {
  std::uint8_t byInstrumentKind;                // model code
  std::uint16_t wNrChannels;                    // input channels
  std::int32_t nResolution;                     // bits per sample at start
  std::uint16_t wNrResolutions;                 // entries of awResolutions in use
  std::array<std::uint16_t, 10> awResolutions;  // selectable resolutions, bits
  std::int32_t nMaxRecordLength;                // longest record, samples
  std::int32_t nNrRanges;                       // input ranges 1..nNrRanges of arRanges
  std::array<long double, 13> arRanges;         // volts full scale, 1-based: [1..12]
  long double rMaxSampleFreq;                   // at construction; identification sets the variant's
  bool bSquareWaveGen;                          // square-wave generator output
  bool bFunctionGen;                            // function generator
  long double rFuncGenMaxAmplitude;             // generator amplitude limit, volts
  bool bFuncGenBurst;                           // generator bursts
  bool bFuncGenTrigSource;                      // generator trigger source
  bool bDcLevel;                                // settable DC level per channel
  bool bTrigAndOr;                              // AND / OR trigger sources
  bool bTrigXor;                                // XOR trigger source
  bool bTrigExternal;                           // external trigger input
  bool bTrigAnaExt;                             // analog external trigger
  bool bPxi;                                    // PXI trigger lines
  bool bTrigGen;                                // generator start / stop / new trigger sources
  bool bTrigModes2And3;                         // trigger kinds 2 and 3
  bool bTrigMode4;                              // trigger kind 4
  bool bTrigModes5And6;                         // trigger kinds 5 and 6
  std::uint16_t wTrigLevelBits;                 // resolution of the trigger level
  bool bUseInitAddress;                         // InitInstrument's address sets the port base
  std::int32_t nNrDigitalInputs;                // digital inputs
  std::int32_t nNrDigitalOutputs;               // digital outputs
};

// The RU3: two channels, 12 bits, 32760 samples, ten ranges from 0.1 V to
// 80 V, 8-bit trigger levels, trigger kinds 0 to 3 on channel 1 or 2, no
// generator, no external trigger, no digital I/O.
inline constexpr TCapabilities kRu3Capabilities{
    .byInstrumentKind = kKindRu3,
    .wNrChannels = 2,
    .nResolution = 12,
    .wNrResolutions = 1,
    .awResolutions = {12, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    .nMaxRecordLength = 32760,
    .nNrRanges = 10,
    .arRanges = {0.0L, 0.1L, 0.2L, 0.4L, 0.8L, 2.0L, 4.0L, 8.0L, 20.0L, 40.0L, 80.0L, 0.0L, 0.0L},
    .rMaxSampleFreq = 200000.0L,
    .bSquareWaveGen = false,
    .bFunctionGen = false,
    .rFuncGenMaxAmplitude = 10.0L,
    .bFuncGenBurst = false,
    .bFuncGenTrigSource = false,
    .bDcLevel = false,
    .bTrigAndOr = false,
    .bTrigXor = false,
    .bTrigExternal = false,
    .bTrigAnaExt = false,
    .bPxi = false,
    .bTrigGen = false,
    .bTrigModes2And3 = true,
    .bTrigMode4 = false,
    .bTrigModes5And6 = false,
    .wTrigLevelBits = 8,
    .bUseInitAddress = false,
    .nNrDigitalInputs = 0,
    .nNrDigitalOutputs = 0,
};

// ---- Model codes the exports single out ------------------------------------

inline constexpr std::uint8_t kKindConfigurable =
    18;  // the only model with an instrument configuration and a switchable generator
inline constexpr long double kExternalClockMinMaxFreq = 50.0e6L;  // external clock: models this fast and up

// Models without a serial number or calibration date: 2, 3 and 4.
constexpr bool KindLacksIdentity(std::uint8_t kind) { return kind == 2 || kind == 3 || kind == 4; }
// Models with a transfer mode, a data-ready callback and event: 18, 22, 23.
constexpr bool KindHasTransferMode(std::uint8_t kind) { return kind == 18 || kind == 22 || kind == 23; }
// Models with an external sample clock (when fast enough): 18 and 22.
constexpr bool KindHasExternalClock(std::uint8_t kind) { return kind == 18 || kind == 22; }

}  // namespace ru3

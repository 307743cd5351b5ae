// The instrument object's enumerations: which channels are measured, what the
// poll timer does, what triggers a record and how records reach the host.
// The numeric values are those the exported functions take and return.
#pragma once

#include <cstdint>

namespace ru3 {

enum class TMeasureMode : std::uint8_t {
  mNone = 0, mCh1 = 1, mCh2 = 2, mCh12 = 3, mCh3 = 4, mCh13 = 5, mCh23 = 6,
  mCh123 = 7, mCh4 = 8, mCh14 = 9, mCh24 = 10, mCh124 = 11, mCh34 = 12,
  mCh134 = 13, mCh234 = 14, mCh1234 = 15, mXY = 16
};

enum class TTrigSource : std::uint8_t {
  tsCh1 = 0, tsCh2 = 1, tsCh3 = 2, tsCh4 = 3, tsExternal = 4, tsAnaExt = 5,
  tsAnd = 6, tsOr = 7, tsXor = 8, tsNoTrig = 9, tsNeverTrig = 10,
  tsPxiExt = 11, tsGenStart = 12, tsGenStop = 13, tsGenNew = 14, tsUnknown = 15
};

enum class TAcquisitionMode : std::uint8_t { amContinuous = 0, amHold = 1, amOneShot = 2 };

enum class TTransferMode : std::uint8_t { tmBlock = 0, tmStream = 1 };

}  // namespace ru3

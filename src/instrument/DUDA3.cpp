// Construction, defaults, dispatch table, poll timer and destruction of the
// instrument object.
#include "instrument/DUDA3.h"
#include "instrument/FloatEnvironment.h"

namespace ru3 {

long double BaseClockFreq = 400000.0L;
long double MaxSampleFreq = 200000.0L;
std::int32_t PrescalerThresholdBase = 10;
std::uint16_t ClockSelectBits = reg::kClockSelectNormal;
std::uint8_t UnitSelectBits = reg::kUnitOneBits;

VOz3::VOz3(void* /*owner*/) {
  // Port-driver check: shows the notice once, here, when it fails.
  bHardwareAvailable = CheckPortDriver();

  // Buffers at their largest size, so that measuring never allocates.
  raw_storage_ = std::make_unique<std::uint16_t[]>(2 * kRawBufferWords);
  pDataCh1 = raw_storage_.get();
  pDataCh2 = raw_storage_.get() + kRawBufferWords;

  Timer = std::make_unique<platform::PollTimer>([this] { TimerTick(); });

  average_storage_ = std::make_unique<float[]>(2 * kAverageBufferFloats);
  pAverageCh1 = average_storage_.get();
  pAverageCh2 = average_storage_.get() + kAverageBufferFloats;

  nCalculations = 1;
  nAverageNumber = 1;
  FillDispatchTable();
  bInstrumentOpen = false;
  byInstrumentKind = 7;

  // Capabilities of this model.
  wNrResolutions = 1;
  awResolutions.fill(0);
  awResolutions[0] = 12;
  rMaxSampleFreq = MaxSampleFreq;
  nResolution = 12;
  wNrChannels = 2;
  bSquareWaveGen = false;
  bFunctionGen = false;
  rFuncGenMaxAmplitude = 10.0L;
  bFuncGenBurst = false;
  bFuncGenTrigSource = false;
  bDcLevel = false;
  bTrigAndOr = false;
  bTrigXor = false;
  bTrigExternal = false;
  bTrigAnaExt = false;
  bPxi = false;
  bTrigGen = false;
  bTrigModes2And3 = true;
  bTrigMode4 = false;
  bTrigModes5And6 = false;
  wTrigLevelBits = 8;
  bUseInitAddress = false;
  nNrDigitalInputs = 0;
  nNrDigitalOutputs = 0;
  nMaxRecordLength = kMaxRecordLength;
  awRelayMaskCh1 = reg::kRelayMaskCh1;
  awRelayMaskCh2 = reg::kRelayMaskCh2;
  nNrRanges = 10;
  arRanges = {0.0L, 0.1L, 0.2L, 0.4L, 0.8L, 2.0L, 4.0L, 8.0L, 20.0L, 40.0L, 80.0L, 0.0L, 0.0L};

  mMeasureMode = TMeasureMode::mCh12;
  for (int ch = 1; ch <= 4; ++ch) {
    abyCoupling[ch] = 0;
    awRange[ch] = 10;
    abAutoRanging[ch] = true;
  }
  for (int ch = 1; ch <= 2; ++ch) {
    awRecordRange[ch] = awRange[ch];
    for (auto& unit : awFrontEndRange) unit[ch] = awRange[ch];
  }

  // Stored directly, without their setters.
  lRecordLength = 512;
  lPreSamples = 256;
  lPostSamples = lRecordLength - lPreSamples;
  rTransSampleTime = 1.0L;

  // Through its setter: the stored value starts at 0, so the setter runs.
  SetTrigTimeOut(1.0L);

  tsTriggerSource = TTrigSource::tsCh1;
  for (int input = 1; input <= 4; ++input) abyTrigMode[input] = 0;
  anTrigLevel[1] = 127;
  anTrigLevel[2] = 127;
  anTrigHys[1] = 10;
  anTrigHys[2] = 10;

  bArmed = false;
  bSettingsDirty = true;
  DisableTimer();
}

VOz3::~VOz3() {
  // The timer goes first so that no tick can reach a half-destroyed object.
  Timer.reset();
  pAverageCh1 = pAverageCh2 = nullptr;
  pDataCh1 = pDataCh2 = nullptr;
}

void VOz3::FillDispatchTable() {
  Dispatch.WriteRegister = &VOz3::WriteRegister;
  Dispatch.ReadRegister = &VOz3::ReadRegister;
  Dispatch.ReadMemory = &VOz3::ReadMemory;
  Dispatch.ReadSamples = &VOz3::ReadSamples;
  Dispatch.WriteLatch16 = &VOz3::WriteLatch16;
  Dispatch.ArmAndWait = &VOz3::ArmAndWait;
  Dispatch.ShiftOut16 = &VOz3::ShiftOut16;
  Dispatch.LoadMemoryImage = &VOz3::LoadMemoryImage;
}

void VOz3::EnableTimer() {
  Timer->SetEnabled(true);
  bArmed = false;
}

void VOz3::DisableTimer() { Timer->SetEnabled(false); }

bool VOz3::TimerEnabled() const { return Timer->Enabled(); }

void VOz3::TimerTick() {
  // The tick runs on the timer's thread (POSIX) or from the host's message
  // loop (Windows): in either case in the host's floating-point environment.
  const FloatEnvironment environment;
  switch (amAcquisitionMode) {
    case TAcquisitionMode::amContinuous:
      Poll();
      break;
    case TAcquisitionMode::amOneShot:
      Poll();
      if (OnSettingsChanged) OnSettingsChanged(this);
      break;
    case TAcquisitionMode::amHold:
      break;
  }
}

}  // namespace ru3

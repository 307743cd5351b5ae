// Construction, defaults, poll timer and destruction of the instrument object.
#include "instrument/DUDA3.h"

#include "instrument/FloatEnvironment.h"

namespace ru3 {

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
  bInstrumentOpen = false;

  // Capabilities of this model.
  const TCapabilities& caps = kRu3Capabilities;
  byInstrumentKind = caps.byInstrumentKind;
  wNrResolutions = caps.wNrResolutions;
  awResolutions = caps.awResolutions;
  rMaxSampleFreq = MaxSampleFreq;
  nResolution = caps.nResolution;
  wNrChannels = caps.wNrChannels;
  bSquareWaveGen = caps.bSquareWaveGen;
  bFunctionGen = caps.bFunctionGen;
  rFuncGenMaxAmplitude = caps.rFuncGenMaxAmplitude;
  bFuncGenBurst = caps.bFuncGenBurst;
  bFuncGenTrigSource = caps.bFuncGenTrigSource;
  bDcLevel = caps.bDcLevel;
  bTrigAndOr = caps.bTrigAndOr;
  bTrigXor = caps.bTrigXor;
  bTrigExternal = caps.bTrigExternal;
  bTrigAnaExt = caps.bTrigAnaExt;
  bPxi = caps.bPxi;
  bTrigGen = caps.bTrigGen;
  bTrigModes2And3 = caps.bTrigModes2And3;
  bTrigMode4 = caps.bTrigMode4;
  bTrigModes5And6 = caps.bTrigModes5And6;
  wTrigLevelBits = caps.wTrigLevelBits;
  bUseInitAddress = caps.bUseInitAddress;
  nNrDigitalInputs = caps.nNrDigitalInputs;
  nNrDigitalOutputs = caps.nNrDigitalOutputs;
  nMaxRecordLength = caps.nMaxRecordLength;
  awRelayMaskCh1 = reg::kRelayMaskCh1;
  awRelayMaskCh2 = reg::kRelayMaskCh2;
  nNrRanges = caps.nNrRanges;
  arRanges = caps.arRanges;

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

// The instrument object: everything the library knows about the attached RU3.
//
// One `VOz3` owns the instrument's identity and capabilities, every acquisition
// setting, the unit and clock selection its register traffic uses, the sample
// and averaging buffers and the 1 ms poll timer. Its operations are spread over
// one file per concern (the register map is Registers.h, the models'
// capabilities Capabilities.h):
//
//   DUDA3.cpp         construction, defaults, timer tick
//   Link.cpp          register protocol over the printer port
//   Detection.cpp     finding, identifying, opening and closing the instrument
//   SerialMemory.cpp  the two-wire bus, the EEPROM image and the calibration
//   Settings.cpp      acquisition settings and their programming
//   Acquisition.cpp   arming, polling, time-outs, completion
//   Readout.cpp       reading the ring memory, averaging, range steps
//   AuxOutputs.cpp    unit selection, DAC and motor outputs
//   FullPreTrigger.cpp  the pre-trigger hold-off, the facts of the record read
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "instrument/Capabilities.h"
#include "instrument/Enums.h"
#include "instrument/FullPreTrigger.h"
#include "instrument/Registers.h"
#include "platform/Global.h"
#include "platform/host.h"

namespace ru3 {

class VOz3;

// A notify event: receives the instrument object as its sender.
using TNotifyEvent = std::function<void(VOz3* sender)>;

// ---- Module-level values shared by every instrument object ---------------

inline constexpr std::int32_t MemorySize = 32768;  // ring samples per channel
inline constexpr std::int32_t kMaxRecordLength = kRu3Capabilities.nMaxRecordLength;
inline constexpr std::size_t kRawBufferWords = 132001;
inline constexpr std::size_t kAverageBufferFloats = 32761;
inline constexpr std::uint16_t kIdleFill = 0x7FFF;  // a position with no sample

// Lowest frequency the sample-clock divider can reach: 400 kHz / 1024 / 65535.
inline constexpr long double kLowestSampleFreq = 400000.0L / 1024.0L / 65535.0L;

class VOz3 {
 public:
  // Construction runs the port-driver check, allocates every buffer at its
  // largest size, creates the disabled poll timer and sets the defaults. It
  // touches no port. The owner is not used.
  explicit VOz3(void* owner = nullptr);
  VOz3(const VOz3&) = delete;
  VOz3& operator=(const VOz3&) = delete;
  ~VOz3();

  // ======================= Instrument object ==============================

  // ---- Settings: published properties with plain field access.
  std::int32_t nHardwareAddress = 0;
  TMeasureMode mMeasureMode = TMeasureMode::mCh12;
  TAcquisitionMode amAcquisitionMode = TAcquisitionMode::amContinuous;
  TTransferMode tmTransferMode = TTransferMode::tmBlock;
  std::int32_t nCalculations = 1;
  std::int32_t nAverageNumber = 1;
  bool bEnableMeasurements = false;
  long double rSampleFreq = 0.0L;
  long double rTransSampleTime = 0.0L;
  std::int32_t lPreSamples = 0;
  std::int32_t lPostSamples = 0;
  std::int32_t lRecordLength = 0;
  bool bExternalClock = false;
  TTrigSource tsTriggerSource = TTrigSource::tsCh1;
  long double rTrigTimeOut = 0.0L;
  bool bSlowIO = false;
  TNotifyEvent OnSettingsChanged;
  TNotifyEvent OnMeasurementReady;
  TNotifyEvent OnTriggered;
  TNotifyEvent OnTransientUpdate;

  [[nodiscard]] std::uint8_t byNrCalChannels() const { return 2; }
  [[nodiscard]] std::uint8_t byNrOfGains() const { return 3; }
  [[nodiscard]] std::uint8_t byNrOfOffsets() const { return 1; }
  [[nodiscard]] std::string Cursor() const { return Nvt(); }
  [[nodiscard]] std::string Hint() const { return Nvt(); }
  [[nodiscard]] std::string Tag() const { return Nvt(); }

  // ---- Identity: platform and the instrument found.
  bool bHardwareAvailable = false;
  bool bInstrumentOpen = false;
  std::uint8_t byInstrumentKind = 0;
  std::string sPortName;
  std::int32_t nSerialNumber = 0;
  platform::DeviceHandle hPortClaim = platform::kNoDevice;
  std::uint8_t byVariant = 0;

  // ---- Capabilities of this model, copied from its Capabilities.h entry at
  // construction (identification sets the variant's sample-rate limit).
  std::int32_t nMaxRecordLength = 0;
  std::int32_t nResolution = 0;
  std::uint16_t wNrResolutions = 0;
  std::array<std::uint16_t, 10> awResolutions{};
  std::uint16_t wNrChannels = 0;
  long double rMaxSampleFreq = 0.0L;
  std::int32_t nNrRanges = 0;
  std::array<long double, 13> arRanges{};  // 1-based: [1..12]
  bool bSquareWaveGen = false;
  bool bFunctionGen = false;
  long double rFuncGenMaxAmplitude = 0.0L;
  bool bFuncGenBurst = false;
  bool bFuncGenTrigSource = false;
  bool bDcLevel = false;
  bool bTrigAndOr = false;
  bool bTrigXor = false;
  bool bTrigExternal = false;
  bool bTrigAnaExt = false;
  bool bPxi = false;
  bool bTrigGen = false;
  bool bTrigModes2And3 = false;
  bool bTrigMode4 = false;
  bool bTrigModes5And6 = false;
  std::uint16_t wTrigLevelBits = 0;
  bool bUseInitAddress = false;
  std::int32_t nNrDigitalInputs = 0;
  std::int32_t nNrDigitalOutputs = 0;

  // ---- Settings: per channel, 1-based: [1..4] (index 0 of abyTrigMode is the
  // external trigger input).
  std::array<std::uint16_t, 5> awRange{};
  std::array<std::uint8_t, 5> abyCoupling{};
  std::array<bool, 5> abAutoRanging{};
  std::array<std::uint8_t, 5> abyTrigMode{};
  std::array<std::int32_t, 5> anTrigLevel{};
  std::array<std::int32_t, 5> anTrigHys{};

  // Input-relay masks per range index, 1-based: [1..12].
  std::array<std::uint16_t, 13> awRelayMaskCh1{};
  std::array<std::uint16_t, 13> awRelayMaskCh2{};

  // Function-generator settings (kept for the resolution setter's save and
  // restore; this instrument has no generator).
  std::uint16_t wFuncGenSignalType = 0;
  long double rFuncGenFrequency = 0.0L;
  long double rFuncGenAmplitude = 0.0L;
  long double rFuncGenDCOffset = 0.0L;
  long double rFuncGenSymmetry = 0.0L;

  // ---- Settings only the exported functions use.
  std::uint32_t pDataReadyCallback = 0;
  std::uint32_t hDataReadyEvent = 0;
  std::uint8_t byInstrumentConfig = 0;
  std::uint8_t byPxiTrigSlopes = 0;
  std::uint8_t byPxiTrigEnables = 0;

  // ---- Acquisition state: sample and averaging buffers, allocated once at
  // construction.
  std::uint16_t* pDataCh1 = nullptr;
  std::uint16_t* pDataCh2 = nullptr;
  float* pAverageCh1 = nullptr;
  float* pAverageCh2 = nullptr;
  [[nodiscard]] std::uint16_t* ChannelData(int ch) const { return ch == 2 ? pDataCh2 : pDataCh1; }
  [[nodiscard]] float* ChannelAverage(int ch) const { return ch == 2 ? pAverageCh2 : pAverageCh1; }

  // ---- Addressing and sample clock: the unit the register traffic
  // addresses and the clock limits identification found.
  // Bits 4-5 of every data-port byte of the register protocol.
  std::uint8_t UnitSelectBits = reg::kUnitOneBits;
  long double BaseClockFreq = 400000.0L;                        // the sample clock's base
  long double MaxSampleFreq = kRu3Capabilities.rMaxSampleFreq;  // 400000 Hz on the fast variant
  std::int32_t PrescalerThresholdBase = 10;  // prescaler thresholds, Hz; 20 on the fast variant until programmed
  std::uint16_t ClockSelectBits = reg::kClockSelectNormal;  // 0 on the fast variant below 400 kHz

  // Short names of the register operations every concern uses.
  void Reg(std::uint16_t reg, std::uint16_t value) { WriteRegister(reg, value); }
  std::uint16_t ReadReg(std::uint16_t reg) { return ReadRegister(reg); }
  void Latch16(std::uint16_t strobe, std::uint16_t value) { WriteLatch16(strobe, value); }
  void Shift16(std::uint16_t target, std::uint16_t word) { ShiftOut16(target, word); }

  // The poll timer and its tick.
  void EnableTimer();   // timer on, bArmed := false
  void DisableTimer();  // timer off
  [[nodiscard]] bool TimerEnabled() const;
  void TimerTick();

  // Port primitives bound to the object.
  void PortOut(std::uint16_t port, std::uint8_t value) { ru3::PortOut(port, value); }
  std::uint8_t PortIn(std::uint16_t port) { return ru3::PortIn(port); }

  // ======================= Port link protocol =============================
  void WriteRegister(std::uint16_t reg, std::uint16_t value);
  std::uint16_t ReadRegister(std::uint16_t reg);
  void WriteLatch16(std::uint16_t strobe, std::uint16_t value);
  void ShiftOut16(std::uint16_t target, std::uint16_t word);
  void ConverterWord(std::uint16_t target, std::uint16_t value);
  void ConverterLoad(std::uint16_t target, std::uint16_t first, std::uint16_t second);
  void ShiftRelayByte(std::uint8_t relay);
  void WriteTrimPair(int ch, std::uint16_t a, std::uint16_t b);
  [[nodiscard]] std::uint8_t DataByte(std::uint8_t nibble) const {
    return static_cast<std::uint8_t>(reg::kDataFixedBits | UnitSelectBits | (nibble & reg::kDataNibbleMask));
  }
  [[nodiscard]] std::uint8_t DataIdleByte() const { return DataByte(reg::kNibbleIdle); }

  // ======================= Detection and opening ==========================
  bool InitHardware();
  void CloseHardware();
  bool OpenInstrument();
  bool IdentifyOnPort(const std::string& name);
  bool ClaimPort(const std::string& name);
  void ReleasePort();

  // ======================= Serial bus and calibration =====================
  // ---- Calibration: the memory image and the tables taken from it.
  std::array<std::uint8_t, 256> abyMemory{};
  // [channel 1..2][range 1..12][value 1..3]: trim A, trim B, gain code.
  std::array<std::array<std::array<std::int32_t, 4>, 13>, 3> anGainCal{};
  // [channel 1..2][range 1..12]: offset code.
  std::array<std::array<std::int32_t, 13>, 3> anOffsetCal{};

  void BusSetLines(int data, int clock);
  int BusSampleData(int clock);
  void BusStartAddress(int direction);
  void BusStop();
  void BusWriteByte(std::uint8_t value);
  std::uint8_t BusReadByte(bool acknowledge);
  void ReadMemory(std::uint16_t address, std::uint16_t count, std::uint8_t* destination);
  void LoadMemoryImage();
  [[nodiscard]] std::uint8_t ImageByte(int address) const;
  [[nodiscard]] std::uint16_t ImageWord(int address) const;
  void LoadCalibration();
  // Days since 30 December 1899, the time of day as the fraction.
  [[nodiscard]] double CalibrationDate() const;
  [[nodiscard]] std::int32_t SerialNumberFromImage() const;

  // ======================= Settings model =================================
  long double rSampleFreqRequest = 0.0L;
  TTrigSource tsEffectiveTrigSource = TTrigSource::tsCh1;

  void SettingsChanged();  // tsEffectiveTrigSource := source, dirty
  void SetSensitivity(int ch, long double volts);
  void ChooseRange(int ch, long double volts);  // the host's choice: clears the pending step
  [[nodiscard]] long double Sensitivity(int ch) const;
  void SetCoupling(int ch, std::uint8_t code);
  [[nodiscard]] std::uint8_t Coupling(int ch) const;
  bool SetAutoRanging(int ch, bool on);
  [[nodiscard]] bool AutoRanging(int ch) const;
  void SetDcLevel(int ch, long double volts);
  [[nodiscard]] long double DcLevel(int ch) const;
  void SetSampleFreq(long double hz);
  [[nodiscard]] long double SampleFreq() const { return rSampleFreq; }
  void SetRecordLength(std::int32_t length);
  void SetPostSamples(std::int32_t count);
  void SetPreSamples(std::int32_t count);
  void SetMeasureMode(TMeasureMode mode);
  void SetTriggerSource(TTrigSource source);
  void SetTrigMode(int input, std::uint8_t code);
  [[nodiscard]] std::uint8_t TrigMode(int input) const;
  void SetTrigLevel(int ch, std::int32_t code);
  [[nodiscard]] std::int32_t TrigLevel(int ch) const;
  void SetTrigHys(int ch, std::int32_t code);
  [[nodiscard]] std::int32_t TrigHys(int ch) const;
  void SetTrigTimeOut(long double seconds);
  void SetTransSampleTime(long double value);
  [[nodiscard]] std::uint16_t AvailableResolution(int index) const;
  void SetResolutionBits(std::int32_t bits);

  // Ranges of channels 1 and 2 each unit's front end was last programmed
  // with: every unit on the port has its own relays and trims.
  std::array<std::array<std::uint16_t, 3>, 4> awFrontEndRange{};  // [unit - 1][1..2]
  // The entry of the unit the register traffic addresses now.
  std::array<std::uint16_t, 3>& AddressedFrontEnd();

  void ProgramFrontEnd();
  long double ProgramSampleClock(long double hz);  // returns the produced rate
  void ProgramTriggerLevels();
  void ProgramTriggerKind();
  void ProgramTriggerSource();

  // ======================= Acquisition engine =============================
  // ---- Acquisition state.
  bool bArmed = false;
  bool bSettingsDirty = true;
  // A setting changed after the last arming phase of the poll: the record
  // under way was measured without it, so the front end is uploaded again.
  bool bChangedSinceArm = false;
  std::uint32_t nArmTick = 0;
  // Unit-select bits of the unit the poll armed its record on.
  std::uint8_t byArmedUnitBits = reg::kUnitOneBits;
  bool bMeasurementDone = false;
  bool bAdcRunning = false;
  std::array<std::int32_t, 3> anRangeStep{};  // [1..2]

  void SetEnableMeasurements(bool on);
  void SetAcquisitionMode(TAcquisitionMode mode);
  void Poll();
  // The poll step after the arming phase, on the armed unit; `host_unit`
  // the unit the host addresses.
  void PollArmed(std::uint8_t host_unit);
  void Arm();
  void StartAcquisition();
  void BlockingMeasure();
  [[nodiscard]] bool IsRunning() const { return bAdcRunning; }
  void Abort();
  void ForceTrigger();
  std::uint16_t IsTriggered();
  bool IsReady();
  void FetchData();
  void SetPostTriggerCounter(std::int32_t samples);
  bool RegisterMessageTarget(int kind, std::uint32_t message);
  void ApplyRangeSteps();

  // ======================= Sample memory read-out =========================
  std::array<bool, 3> abOverRange{};  // [1..2]
  std::array<bool, 3> abInMidBand{};  // [1..2]
  // The range each channel buffer's record was measured on: the factor of
  // its volts, whatever the range setting has become since.
  std::array<std::uint16_t, 3> awRecordRange{};  // [1..2]
  [[nodiscard]] long double RecordSensitivity(int ch) const;

  // Status bit 6 at the last read-out: the ring filled at least once since
  // arming, so its cell before address 0 belongs to the record.
  bool bRingWrapped = false;
  // The busy bit clear in the status the last read-out began with.
  bool bReadyAtReadOut = false;

  std::int32_t ReadWritePointer();
  void ReadOut();
  void ReadSamples(int ch, std::int32_t start, std::int32_t count);
  void ArmAndWait(std::int32_t start);

  // ======================= Full pre-trigger, record facts =================
  TRecordExtension Extension;  // FullPreTrigger.cpp

  // ======================= Auxiliary outputs ==============================
  std::int32_t nActiveUnit = 0;

  void SelectUnit(std::int32_t unit);
  [[nodiscard]] static std::uint16_t DacCode(long double volts);
  void SetDac(long double first, long double second);
  void SetMotor(bool first, bool second);
  void FillGeneratorMemory(std::int32_t count, const std::uint16_t* samples);

 private:
  static std::string Nvt() { return "nvt"; }

  // Zeroed in one piece when the object is made (a plain array, not a vector
  // filled element by element: an opening allocates some 1.3 MB of them).
  std::unique_ptr<std::uint16_t[]> raw_storage_;
  std::unique_ptr<float[]> average_storage_;
  std::unique_ptr<platform::PollTimer> Timer;
};

}  // namespace ru3

/*
 * ru3.h - public interface of the RU3 driver library.
 *
 * The RU3 is a two-channel 12-bit digitising oscilloscope on the PC's printer
 * port. A host calls InitInstrument once, sets up the acquisition, measures in
 * block style (ADC_Start / ADC_Ready / ADC_GetData...), synchronously
 * (StartMeasurement) or timer-driven (DoMeasure), and calls ExitInstrument at
 * the end.
 *
 * Conventions shared by every function:
 *  - Calling convention RU3_CALL (__stdcall on 32-bit Windows, the platform
 *    default elsewhere). Every argument occupies one 32-bit slot, a double two.
 *  - Most functions return a 16-bit status, exactly one of the RU3_* codes
 *    below. The presence check (an instrument object exists and is open) comes
 *    first and gives RU3_NO_INSTRUMENT.
 *  - Where an argument is documented as "byte" or "16-bit", only the low 8 or
 *    16 bits of its 32-bit slot are used (SetMotorOn(256, 1) acts as (0, 1)).
 *  - The caller owns every buffer. "record length" buffers must hold
 *    GetRecordLength() elements.
 *  - Raw sample codes are the 12-bit conversion shifted left by 4: 0x8000 is
 *    0 V, 0x0000 is -range, 0xFFF0 is range*32752/32768; positions that
 *    received no sample hold the no-sample code 0x7FFF (-range/32768 in
 *    volts): the leading positions of a record whose trigger came before the
 *    memory was filled, and, after every read-out, every position of a
 *    channel the measure mode does not measure.
 */
#ifndef RU3_RU3_H
#define RU3_RU3_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define RU3_CALL __stdcall
#else
#define RU3_CALL
#endif

#if defined(RU3_BUILDING_LIBRARY) && !defined(_WIN32)
#define RU3_API __attribute__((visibility("default")))
#else
#define RU3_API
#endif

#ifdef __cplusplus
#define RU3_NOEXCEPT noexcept
extern "C" {
#else
#define RU3_NOEXCEPT
#endif

/* Status codes: single bits, a function returns exactly one of them. */
#define RU3_OK 0                /* success */
#define RU3_NO_INSTRUMENT 1     /* no instrument object, or it is not open */
#define RU3_NOT_INITIALISED 2   /* the instrument was never opened */
#define RU3_NOT_AVAILABLE 4     /* the instrument lacks the facility asked for */
#define RU3_NO_GENERATOR 8      /* no function / square-wave generator */
#define RU3_BAD_CHANNEL 16      /* channel 0 or above the number of channels */
#define RU3_BAD_VALUE 32        /* argument out of range, or null pointer */

/* Measure modes (byte): bit 0 channel 1, bit 1 channel 2, ...; 16 = XY. */
#define RU3_MODE_NONE 0
#define RU3_MODE_CH1 1
#define RU3_MODE_CH2 2
#define RU3_MODE_CH12 3
#define RU3_MODE_XY 16

/* Trigger sources (byte). */
#define RU3_TRIG_CH1 0
#define RU3_TRIG_CH2 1
#define RU3_TRIG_CH3 2
#define RU3_TRIG_CH4 3
#define RU3_TRIG_EXTERNAL 4
#define RU3_TRIG_ANA_EXT 5
#define RU3_TRIG_AND 6
#define RU3_TRIG_OR 7
#define RU3_TRIG_XOR 8
#define RU3_TRIG_NONE 9
#define RU3_TRIG_NEVER 10
#define RU3_TRIG_PXI_EXT 11
#define RU3_TRIG_GEN_START 12
#define RU3_TRIG_GEN_STOP 13
#define RU3_TRIG_GEN_NEW 14
#define RU3_TRIG_UNKNOWN 15

/* Trigger kinds per input (byte): 0..3 on this instrument.
 * 0 rising through the level, re-armed below level - hysteresis (default);
 * 1 falling through the level, re-armed above level + hysteresis;
 * 2 falling, with the hysteresis below the level; 3 either slope.
 * Coupling codes: 0 DC, 1 AC. */

/* Acquisition modes of the object and transfer modes. */
#define RU3_TRANSFER_BLOCK 0
#define RU3_TRANSFER_STREAM 1

/* Trigger time-out that means "wait for ever". */
#define RU3_TIMEOUT_NONE 0xFFFFFFFFu

/* ---- Frame ------------------------------------------------------------ */
/* address: 16-bit, ignored by this instrument (it finds its port itself).
 * 0 when the instrument answers and is open, 1 otherwise. */
RU3_API uint16_t RU3_CALL InitInstrument(uint32_t address) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL ExitInstrument(void) RU3_NOEXCEPT;

/* ---- Capability queries ----------------------------------------------- */
RU3_API int32_t RU3_CALL GetMaxSampleFrequency(void) RU3_NOEXCEPT;
RU3_API double RU3_CALL GetMaxSampleFrequencyF(void) RU3_NOEXCEPT;
RU3_API int32_t RU3_CALL GetMaxRecordLength(void) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetSquareWaveGenStatus(void) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetFunctionGenStatus(void) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetFuncGenMaxAmplitude(double* amplitude) RU3_NOEXCEPT;
RU3_API int32_t RU3_CALL GetDCLevelStatus(void) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetNrChannels(uint16_t* channels) RU3_NOEXCEPT;

/* ---- Data-ready notification (not available on this instrument) ------- */
RU3_API uint16_t RU3_CALL SetDataReadyCallback(uint32_t callback) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetDataReadyEvent(uint32_t event) RU3_NOEXCEPT;

/* ---- Measurement control ---------------------------------------------- */
RU3_API uint16_t RU3_CALL StartMeasurement(void) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL ADC_Start(void) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL ADC_Running(void) RU3_NOEXCEPT;   /* 1 or 0 */
RU3_API uint16_t RU3_CALL ADC_Abort(void) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL ADC_Triggered(void) RU3_NOEXCEPT; /* 0 or the source's status bit */
RU3_API uint16_t RU3_CALL ADC_Ready(void) RU3_NOEXCEPT;     /* 1 or 0 */
RU3_API uint16_t RU3_CALL ADC_ForceTrig(void) RU3_NOEXCEPT;
/* mode: 0 stop, -1 continuous, any other value one measurement (average). */
RU3_API uint16_t RU3_CALL DoMeasure(int32_t mode) RU3_NOEXCEPT;

/* ---- Data read-out ---------------------------------------------------- */
/* ch: 16-bit channel number 1..2; index: sample 0..record length-1. */
RU3_API uint16_t RU3_CALL GetMeasurement(double* ch1, double* ch2) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetOneMeasurement(int32_t index, double* ch1, double* ch2) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetMeasurementRaw(uint16_t* ch1, uint16_t* ch2) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetOneMeasurementRaw(int32_t index, uint16_t* ch1, uint16_t* ch2) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetOneMeasurementRawCh(uint32_t ch, int32_t index, uint16_t* value) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL ADC_GetData(uint16_t* ch1, uint16_t* ch2) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL ADC_GetDataVolt(double* ch1, double* ch2) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL ADC_GetDataCh(uint32_t ch, uint16_t* data) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL ADC_GetDataVoltCh(uint32_t ch, double* data) RU3_NOEXCEPT;

/* ---- Digital inputs (not available on this instrument) ---------------- */
RU3_API uint16_t RU3_CALL GetDigitalInputValues(uint16_t* values) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetOneDigitalValue(uint32_t unused, uint16_t* value) RU3_NOEXCEPT;

/* ---- Channels and timebase -------------------------------------------- */
RU3_API uint16_t RU3_CALL GetMeasureMode(uint8_t* mode) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetMeasureMode(uint32_t mode /* byte */) RU3_NOEXCEPT;
RU3_API int32_t RU3_CALL GetRecordLength(void) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetRecordLength(uint32_t length) RU3_NOEXCEPT;
RU3_API int32_t RU3_CALL GetPostSamples(void) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetPostSamples(uint32_t count) RU3_NOEXCEPT;
RU3_API int32_t RU3_CALL GetSampleFrequency(void) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetSampleFrequency(uint32_t* frequency /* in: wanted, out: actual */) RU3_NOEXCEPT;
RU3_API double RU3_CALL GetSampleFrequencyF(void) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetSampleFrequencyF(double* frequency /* in: wanted, out: actual */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetResolution(uint8_t* bits) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetResolution(uint32_t bits /* byte */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetExternalClock(uint16_t* on) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetExternalClock(uint32_t on /* 16-bit */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetInstrumentConfig(uint32_t config /* 16-bit */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetInstrumentConfig(uint16_t* config) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetTransferMode(uint32_t mode /* byte */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetTransferMode(uint32_t* mode) RU3_NOEXCEPT;

/* ---- Input ranges and coupling (ch: byte, 1..2) ------------------------ */
RU3_API uint16_t RU3_CALL GetSensitivity(uint32_t ch, double* range) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetSensitivity(uint32_t ch, double* range /* in: wanted, out: actual */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetAutoRanging(uint32_t ch, uint8_t* on) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetAutoRanging(uint32_t ch, uint32_t on /* byte */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetCoupling(uint32_t ch, uint8_t* coupling) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetCoupling(uint32_t ch, uint32_t coupling /* byte, 0 or 1 */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetDcLevel(uint32_t ch, double* level) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetDcLevel(uint32_t ch, double level) RU3_NOEXCEPT;

/* ---- Trigger (ch: byte, 1..2) ------------------------------------------ */
RU3_API uint16_t RU3_CALL GetTriggerSource(uint8_t* source) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetTriggerSource(uint32_t source /* byte */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetTriggerMode(uint8_t* mode) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetTriggerMode(uint32_t mode /* byte */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetTriggerModeCh(uint32_t input /* byte, 0 = external */, uint8_t* mode) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetTriggerModeCh(uint32_t input /* byte */, uint32_t mode /* byte */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetTriggerLevel(uint32_t ch, double* level) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetTriggerLevel(uint32_t ch, double level) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetTriggerHys(uint32_t ch, double* hysteresis) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetTriggerHys(uint32_t ch, double hysteresis) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetPXITriggerSlopes(uint8_t* slopes) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetPXITriggerSlopes(uint32_t slopes /* byte */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetPXITriggerEnables(uint8_t* enables) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetPXITriggerEnables(uint32_t enables /* byte */) RU3_NOEXCEPT;
/* Time-out in milliseconds; -1 (RU3_TIMEOUT_NONE) for none. */
RU3_API int32_t RU3_CALL GetTriggerTimeOut(void) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetTriggerTimeOut(uint32_t milliseconds) RU3_NOEXCEPT;

/* ---- Calibration and identity ----------------------------------------- */
/* date: day << 24 | month << 16 | year. */
RU3_API uint16_t RU3_CALL GetCalibrationDate(int32_t* date) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetSerialNumber(int32_t* serial) RU3_NOEXCEPT;
/* Both fill 20 doubles: the list, then zeros. */
RU3_API uint16_t RU3_CALL GetAvailableResolutions(double* resolutions) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetAvailableSensitivities(double* ranges) RU3_NOEXCEPT;

/* ---- Square-wave and function generator (not on this instrument) ------ */
RU3_API int32_t RU3_CALL GetSquareWaveGenFrequency(void) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetSquareWaveGenFrequency(uint32_t* frequency) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetFuncGenFrequency(double* frequency) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetFuncGenFrequency(double* frequency) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetFuncGenAmplitude(double* amplitude) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetFuncGenAmplitude(double amplitude) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetFuncGenSignalType(uint16_t* type) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetFuncGenSignalType(uint32_t type /* 16-bit */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetFuncGenDCOffset(double* offset) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetFuncGenDCOffset(double offset) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetFuncGenSymmetry(double* symmetry) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetFuncGenSymmetry(double symmetry) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetFuncGenOutputOn(uint16_t* on) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetFuncGenOutputOn(uint32_t on /* 16-bit */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL FillFuncGenMemory(uint32_t count, const uint16_t* samples) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL FuncGenBurst(uint32_t count /* 16-bit */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetFuncGenTrigSource(uint32_t source /* byte */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetFuncGenTrigSource(uint8_t* source) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetFuncGenMode(uint32_t unused) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetFuncGenMode(uint32_t unused) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetFuncGenEnable(uint32_t on /* 16-bit */) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetFuncGenEnable(uint16_t* on) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetFuncGenAmplitudeRange(uint32_t unused) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetFuncGenAmplitudeRange(uint32_t unused) RU3_NOEXCEPT;

/* ---- Digital outputs, resistance, serial bus (not on this instrument) -- */
RU3_API uint16_t RU3_CALL SetDigitalOutputs(uint32_t unused) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetDigitalOutputs(uint32_t unused) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetupOhmMeasurements(uint32_t unused) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetOhmValues(uint32_t unused1, uint32_t unused2) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL I2CWrite(uint32_t a, uint32_t b, uint32_t c) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL I2CRead(uint32_t a, uint32_t b, uint32_t c) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL I2CWriteNoStop(uint32_t a, uint32_t b, uint32_t c) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL I2CReadNoStop(uint32_t a, uint32_t b, uint32_t c) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL I2CSetSpeed(uint32_t unused) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL I2CGetSpeed(uint32_t unused) RU3_NOEXCEPT;

/* ---- Unit selection, DAC, motor (unit: byte 1..4) ---------------------- */
RU3_API uint16_t RU3_CALL GetActiveRU3(uint8_t* unit) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetActiveRU3(uint32_t unit /* byte */) RU3_NOEXCEPT;
/* Volts, each clamped to -10..+10 V, 12-bit codes. */
RU3_API uint16_t RU3_CALL SetDAC7394(double ch1, double ch2) RU3_NOEXCEPT;
/* Non-zero low byte switches an output on. */
RU3_API uint16_t RU3_CALL SetMotorOn(uint32_t first /* byte */, uint32_t second /* byte */) RU3_NOEXCEPT;

#ifdef __cplusplus
}
#endif

/*
 * The export table: every exported function with its ordinal in DLL.dll.
 * Ordinals 68 and 69 are empty slots. X(ordinal, name).
 */
#define RU3_EXPORT_TABLE(X)                                                     \
  X(1, InitInstrument) X(2, ExitInstrument) X(3, GetCalibrationDate)            \
  X(4, GetSerialNumber) X(5, GetMaxSampleFrequency) X(6, GetMaxRecordLength)    \
  X(7, GetSquareWaveGenStatus) X(8, GetFunctionGenStatus)                       \
  X(9, GetFuncGenMaxAmplitude) X(10, StartMeasurement) X(11, GetMeasurement)    \
  X(12, GetOneMeasurement) X(13, GetMeasurementRaw) X(14, GetOneMeasurementRaw) \
  X(15, GetMeasureMode) X(16, SetMeasureMode) X(17, GetRecordLength)            \
  X(18, SetRecordLength) X(19, GetPostSamples) X(20, SetPostSamples)            \
  X(21, GetSampleFrequency) X(22, SetSampleFrequency) X(23, GetSensitivity)     \
  X(24, SetSensitivity) X(25, GetAutoRanging) X(26, SetAutoRanging)             \
  X(27, GetCoupling) X(28, SetCoupling) X(29, GetDcLevel) X(30, SetDcLevel)     \
  X(31, GetTriggerSource) X(32, SetTriggerSource) X(33, GetTriggerMode)         \
  X(34, SetTriggerMode) X(35, GetTriggerLevel) X(36, SetTriggerLevel)           \
  X(37, GetTriggerHys) X(38, SetTriggerHys) X(39, GetPXITriggerSlopes)          \
  X(40, SetPXITriggerSlopes) X(41, GetPXITriggerEnables)                        \
  X(42, SetPXITriggerEnables) X(43, GetTriggerTimeOut) X(44, SetTriggerTimeOut) \
  X(45, GetSquareWaveGenFrequency) X(46, SetSquareWaveGenFrequency)             \
  X(47, GetFuncGenFrequency) X(48, SetFuncGenFrequency)                         \
  X(49, GetFuncGenAmplitude) X(50, SetFuncGenAmplitude)                         \
  X(51, GetFuncGenSignalType) X(52, SetFuncGenSignalType)                       \
  X(53, GetFuncGenDCOffset) X(54, SetFuncGenDCOffset)                           \
  X(55, GetFuncGenSymmetry) X(56, SetFuncGenSymmetry)                           \
  X(57, GetFuncGenOutputOn) X(58, SetFuncGenOutputOn) X(59, FillFuncGenMemory)  \
  X(60, SetDigitalOutputs) X(61, GetDigitalOutputs)                             \
  X(62, GetDigitalInputValues) X(63, GetOneDigitalValue) X(64, GetActiveRU3)    \
  X(65, SetActiveRU3) X(66, SetDAC7394) X(67, SetMotorOn)                       \
  X(70, GetAvailableResolutions) X(71, GetAvailableSensitivities)               \
  X(72, ADC_Start) X(73, ADC_Running) X(74, ADC_Abort) X(75, ADC_Triggered)     \
  X(76, ADC_Ready) X(77, ADC_GetData) X(78, ADC_GetDataVolt)                    \
  X(79, ADC_ForceTrig) X(80, GetResolution) X(81, SetResolution)                \
  X(82, GetDCLevelStatus) X(83, GetExternalClock) X(84, SetExternalClock)       \
  X(85, FuncGenBurst) X(86, SetInstrumentConfig) X(87, GetInstrumentConfig)     \
  X(88, SetupOhmMeasurements) X(89, GetOhmValues) X(90, SetFuncGenTrigSource)   \
  X(91, GetFuncGenTrigSource) X(92, GetSampleFrequencyF)                        \
  X(93, SetSampleFrequencyF) X(94, SetTransferMode) X(95, GetTransferMode)      \
  X(96, GetNrChannels) X(97, ADC_GetDataCh) X(98, ADC_GetDataVoltCh)            \
  X(99, SetDataReadyCallback) X(100, SetDataReadyEvent) X(101, DoMeasure)       \
  X(102, SetTriggerModeCh) X(103, GetTriggerModeCh) X(104, SetFuncGenMode)      \
  X(105, GetFuncGenMode) X(106, GetOneMeasurementRawCh) X(107, I2CWrite)        \
  X(108, I2CRead) X(109, GetMaxSampleFrequencyF) X(110, I2CWriteNoStop)         \
  X(111, I2CReadNoStop) X(112, I2CSetSpeed) X(113, I2CGetSpeed)                 \
  X(114, SetFuncGenEnable) X(115, GetFuncGenEnable)                             \
  X(116, SetFuncGenAmplitudeRange) X(117, GetFuncGenAmplitudeRange)

#define RU3_EXPORT_COUNT 115
#define RU3_ORDINAL_SLOTS 117

#endif /* RU3_RU3_H */

/**
 * @file ru3_codes.h
 * @brief The codes of the RU3 library's interface: status codes, the codes
 * of the enumerations its functions take and give, and the export table with
 * the DLL.dll ordinals. Included by ru3.h; hosts include ru3.h.
 */
#ifndef RU3_RU3_CODES_H
#define RU3_RU3_CODES_H

/** @name Status codes
 * Single bits; a function returns exactly one of them.
 */
/** @{ */
#define RU3_OK 0                /**< success */
#define RU3_NO_INSTRUMENT 1     /**< no instrument object, or it is not open */
#define RU3_NOT_INITIALISED 2   /**< the instrument was never opened */
#define RU3_NOT_AVAILABLE 4     /**< the instrument lacks the facility asked for */
#define RU3_NO_GENERATOR 8      /**< no function / square-wave generator */
#define RU3_BAD_CHANNEL 16      /**< channel 0 or above the number of channels */
#define RU3_BAD_VALUE 32        /**< argument out of range, or null pointer */
/** @} */

/** @name Measure modes
 * SetMeasureMode() codes (byte): bit 0 channel 1, bit 1 channel 2; 16 = XY.
 */
/** @{ */
#define RU3_MODE_NONE 0         /**< no channel */
#define RU3_MODE_CH1 1          /**< channel 1 */
#define RU3_MODE_CH2 2          /**< channel 2 */
#define RU3_MODE_CH12 3         /**< channels 1 and 2 (the default) */
#define RU3_MODE_XY 16          /**< the XY code (both channels) */

/** @} */

/** @name Trigger sources
 * SetTriggerSource() ordinals (byte), counted from 0. This instrument accepts
 * RU3_TRIG_CH1, RU3_TRIG_CH2 and RU3_TRIG_NONE; the others give
 * RU3_NOT_AVAILABLE (RU3_TRIG_UNKNOWN RU3_BAD_VALUE).
 */
/** @{ */
#define RU3_TRIG_CH1 0          /**< channel 1 (the default) */
#define RU3_TRIG_CH2 1          /**< channel 2 */
#define RU3_TRIG_CH3 2          /**< channel 3 (not on this instrument) */
#define RU3_TRIG_CH4 3          /**< channel 4 (not on this instrument) */
#define RU3_TRIG_EXTERNAL 4     /**< external trigger input (not on this instrument) */
#define RU3_TRIG_ANA_EXT 5      /**< analog external input (not on this instrument) */
#define RU3_TRIG_AND 6          /**< channels and-ed (not on this instrument) */
#define RU3_TRIG_OR 7           /**< channels or-ed (not on this instrument) */
#define RU3_TRIG_XOR 8          /**< channels xor-ed (not on this instrument) */
#define RU3_TRIG_NONE 9         /**< no trigger: free-running */
#define RU3_TRIG_NEVER 10       /**< never (refused on every instrument) */
#define RU3_TRIG_PXI_EXT 11     /**< PXI trigger line (not on this instrument) */
#define RU3_TRIG_GEN_START 12   /**< generator start (not on this instrument) */
#define RU3_TRIG_GEN_STOP 13    /**< generator stop (not on this instrument) */
#define RU3_TRIG_GEN_NEW 14     /**< generator new period (not on this instrument) */
#define RU3_TRIG_UNKNOWN 15     /**< reported for a source outside the list, never accepted */

/** @} */

/** @name Trigger kinds
 * SetTriggerMode() and SetTriggerModeCh() codes (byte), per input. This
 * instrument has kinds 0 to 3 and applies channel 1's whichever channel
 * triggers; kinds 4 to 11 give RU3_NOT_AVAILABLE, 12 and above RU3_BAD_VALUE.
 */
/** @{ */
#define RU3_KIND_RISING 0         /**< rising through the level, re-armed below level - hysteresis (the default) */
#define RU3_KIND_FALLING 1        /**< falling through the level, re-armed above level + hysteresis */
#define RU3_KIND_FALLING_BELOW 2  /**< falling through the level, with the hysteresis below the level */
#define RU3_KIND_EITHER 3         /**< either slope through the level */

/** @} */

/** @name Couplings
 * SetCoupling() codes (byte); other values give RU3_BAD_VALUE.
 */
/** @{ */
#define RU3_COUPLING_DC 0       /**< DC coupling (the default) */
#define RU3_COUPLING_AC 1       /**< AC coupling: the channel's coupling relay bit cleared */

/** @} */

/** The code of a record position that holds no sample: no conversion has it, since the low
 * four bits of every sample are 0. In volts it reads as -range/32768. */
#define RU3_NO_SAMPLE 0x7FFF

/** @name Transfer modes
 * SetTransferMode() codes; this instrument transfers records as a block only.
 */
/** @{ */
#define RU3_TRANSFER_BLOCK 0    /**< a record at a time */
#define RU3_TRANSFER_STREAM 1   /**< streaming (not on this instrument) */

/** @} */

/** SetTriggerTimeOut() value that means "wait for ever"; GetTriggerTimeOut() reads it as -1. */
#define RU3_TIMEOUT_NONE 0xFFFFFFFFu

/**
 * The export table: every exported function with its ordinal in DLL.dll,
 * as X(ordinal, name). Ordinals 68 and 69 are empty slots.
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

#define RU3_EXPORT_COUNT 115    /**< named exports */
#define RU3_ORDINAL_SLOTS 117   /**< ordinal slots of DLL.dll, 1 to 117 */

#endif /* RU3_RU3_CODES_H */

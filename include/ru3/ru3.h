/**
 * @file ru3.h
 * @brief Public interface of the RU3 driver library (libru3.so on Linux,
 * DLL.dll on Windows).
 *
 * The RU3 is a two-channel 12-bit digitising oscilloscope on the PC's printer
 * port: up to 200 kHz (400 kHz on the faster variant), 32760 samples per
 * channel, ten input ranges from 0.1 V to 80 V full scale, a trigger on either
 * channel, a two-channel DAC and two motor outputs. A host calls
 * InitInstrument() once, sets up the acquisition, measures in one of three
 * styles and calls ExitInstrument() at the end:
 *  - block style: ADC_Start(), poll ADC_Ready(), read with ADC_GetData() and
 *    its siblings. The trigger time-out does not end the wait: when no trigger
 *    comes, the host calls ADC_ForceTrig() itself;
 *  - synchronous: StartMeasurement() returns with a complete record, forcing
 *    the trigger after the time-out;
 *  - timer-driven: DoMeasure() measures on the library's own 1 ms timer, and
 *    GetMeasurement() and its siblings read the latest record.
 *
 * Conventions shared by every function:
 *  - Calling convention RU3_CALL (__stdcall on 32-bit Windows, the platform
 *    default elsewhere). Every argument occupies one 32-bit slot, a double two.
 *  - Most functions return a 16-bit status, exactly one of the RU3_* codes
 *    below. The presence check (an instrument object exists and is open) comes
 *    first and gives RU3_NO_INSTRUMENT. A null output pointer gives
 *    RU3_BAD_VALUE and nothing is written.
 *  - Where an argument is documented as "byte" or "16-bit", only the low 8 or
 *    16 bits of its 32-bit slot are used (SetMotorOn(256, 1) acts as (0, 1)).
 *  - Units: volts, hertz, samples; the trigger time-out in milliseconds.
 *    Channels are numbered from 1 (@p ch is 1 or 2), trigger sources by
 *    ordinals from 0: RU3_TRIG_CH1 (0) is channel 1, RU3_TRIG_CH2 (1) is
 *    channel 2.
 *  - The caller owns every buffer. "record length" buffers must hold
 *    GetRecordLength() elements (at most GetMaxRecordLength(), 32760); the
 *    lists of ranges and resolutions take 20 doubles.
 *  - Raw sample codes are the 12-bit conversion shifted left by 4: 0x8000 is
 *    0 V, 0x0000 is -range, 0xFFF0 is range*32752/32768; positions that
 *    received no sample hold the no-sample code RU3_NO_SAMPLE, 0x7FFF
 *    (-range/32768 in volts): the leading positions of a record whose trigger came before the
 *    memory was filled (Ext_SetFullPreTrigger() in ru3_extension.h holds
 *    the trigger off until it is), and, after every read-out, every position of a
 *    channel the measure mode does not measure.
 *
 * Threads:
 *  - Linux: any thread may call any function. Every exported call and every
 *    tick of the library's poll timer (a thread of the library) hold one
 *    library-wide lock for their whole duration, so calls are serialised and
 *    a record read with GetMeasurement() while the timer measures is the
 *    previous or the new one, never a mixture. A blocking call
 *    (StartMeasurement(), a fetching read) makes the others wait. Unloading
 *    the library (dlclose, process exit) performs ExitInstrument().
 *  - Windows: one thread. Call every function from the thread that called
 *    InitInstrument(); the timer of timer-driven measuring and the library's
 *    hidden window run through that thread's message loop, which must
 *    dispatch messages while DoMeasure() measures. The library takes no locks.
 */
#ifndef RU3_RU3_H
#define RU3_RU3_H

#include <stdint.h>

/**
 * @def RU3_CALL
 * The calling convention of every export: __stdcall on 32-bit Windows (the
 * export table existing hosts expect), the platform default elsewhere.
 */
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

/** @name Opening and closing
 * InitInstrument() once, ExitInstrument() at the end. Every other function needs an open
 * instrument: without one it returns RU3_NO_INSTRUMENT, or the absent value its own text
 * gives.
 */
/** @{ */
/**
 * Opens the instrument: finds the printer port it hangs on (@p address, 16-bit, is ignored),
 * identifies it by its EEPROM, loads its calibration, uploads the settings, and sets the DAC
 * outputs to 0 V and the motors off. Reads RU3_SIMULATOR and RU3_PORT_TRACE from the environment
 * at every call. @return RU3_OK when the instrument is open (also when it already was: nothing
 * changes then); RU3_NO_INSTRUMENT when it cannot be opened: call ExitInstrument() before trying
 * again.
 */
RU3_API uint16_t RU3_CALL InitInstrument(uint32_t address) RU3_NOEXCEPT;
/**
 * Closes the instrument: stops timer-driven measuring, sets the DAC outputs to 0 V and the motors
 * off, and releases the port. InitInstrument() may open it again. Unloading the library does the
 * same. @return RU3_OK, also when nothing was open.
 */
RU3_API uint16_t RU3_CALL ExitInstrument(void) RU3_NOEXCEPT;

/** @} */

/** @name Capability queries
 * What this instrument has.
 */
/** @{ */
/**
 * The fastest sample rate in Hz, rounded: 200000, or 400000 on the faster variant; 0 when no
 * instrument is open.
 */
RU3_API int32_t RU3_CALL GetMaxSampleFrequency(void) RU3_NOEXCEPT;
/** The fastest sample rate in Hz (200000.0 or 400000.0); 0.0 when no instrument is open. */
RU3_API double RU3_CALL GetMaxSampleFrequencyF(void) RU3_NOEXCEPT;
/**
 * The longest record in samples per channel: 32760 (not the memory's 32768); 0 when no instrument
 * is open.
 */
RU3_API int32_t RU3_CALL GetMaxRecordLength(void) RU3_NOEXCEPT;
/** RU3_NO_GENERATOR: this instrument has no square-wave generator. */
RU3_API uint16_t RU3_CALL GetSquareWaveGenStatus(void) RU3_NOEXCEPT;
/** RU3_NO_GENERATOR: this instrument has no function generator. */
RU3_API uint16_t RU3_CALL GetFunctionGenStatus(void) RU3_NOEXCEPT;
/** RU3_NO_GENERATOR, nothing written: this instrument has no function generator. */
RU3_API uint16_t RU3_CALL GetFuncGenMaxAmplitude(double* amplitude) RU3_NOEXCEPT;
/**
 * RU3_NOT_AVAILABLE (4): this instrument has no DC-level output; 1 when no instrument is open.
 */
RU3_API int32_t RU3_CALL GetDCLevelStatus(void) RU3_NOEXCEPT;
/** Writes the number of input channels, 2. */
RU3_API uint16_t RU3_CALL GetNrChannels(uint16_t* channels) RU3_NOEXCEPT;

/** @} */

/** @name Data-ready notification
 * Not available on this instrument.
 */
/** @{ */
/**
 * Not available on this instrument: RU3_NOT_AVAILABLE, nothing stored. The library calls no
 * callback and signals no event: a host learns of a record by polling (ADC_Ready()) or reads when
 * it chooses (timer-driven).
 */
RU3_API uint16_t RU3_CALL SetDataReadyCallback(uint32_t callback) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL SetDataReadyEvent(uint32_t event) RU3_NOEXCEPT;

/** @} */

/** @name Measurement control
 * Block style (ADC_Start(), ADC_Ready(), ADC_ForceTrig(), then ADC_GetData() and its
 * siblings), synchronous (StartMeasurement()) or timer-driven (DoMeasure()). In block style
 * the host forces the trigger when none comes: the trigger time-out does not end an
 * ADC_Ready() wait.
 */
/** @{ */
/**
 * Measures one record and returns when it is complete (synchronous style); read it with
 * GetMeasurement() and its siblings. When no trigger comes, the trigger is forced once the trigger
 * time-out has passed (SetTriggerTimeOut()); with RU3_TIMEOUT_NONE and no trigger it never
 * returns, and on Linux it holds the library lock meanwhile. @return RU3_OK; RU3_NOT_INITIALISED
 * when the instrument was never opened; RU3_NO_INSTRUMENT when it vanished during the measurement.
 */
RU3_API uint16_t RU3_CALL StartMeasurement(void) RU3_NOEXCEPT;
/**
 * Arms one measurement and returns at once (block style): applies a pending auto-ranging step,
 * uploads changed settings, programs the trigger, clock and post-trigger count. Poll ADC_Ready(),
 * force with ADC_ForceTrig() when the trigger does not come, then read with ADC_GetData() and its
 * siblings. @return RU3_OK; RU3_NOT_INITIALISED when the instrument was never opened.
 */
RU3_API uint16_t RU3_CALL ADC_Start(void) RU3_NOEXCEPT;
/**
 * 1 from ADC_Start() until the first fetching read (ADC_GetData() and its siblings) or
 * ADC_Abort(), else 0. Follows the host's calls; the instrument is not asked.
 */
RU3_API uint16_t RU3_CALL ADC_Running(void) RU3_NOEXCEPT;   /* 1 or 0 */
/**
 * Ends the host's block-style measurement: ADC_Running() reads 0 afterwards. The instrument has no
 * stop command; an armed acquisition ends by itself and the next ADC_Start() re-arms from scratch.
 * The channel buffers keep the last record. @return RU3_OK; RU3_NOT_INITIALISED when the
 * instrument was never opened.
 */
RU3_API uint16_t RU3_CALL ADC_Abort(void) RU3_NOEXCEPT;
/**
 * 0 until the armed measurement has triggered, then the trigger source's status bit: 1 for
 * RU3_TRIG_CH1 (and free-running), 2 for RU3_TRIG_CH2. Reads the instrument's status register on
 * every call; 0 when no instrument is open.
 */
RU3_API uint16_t RU3_CALL ADC_Triggered(void) RU3_NOEXCEPT; /* 0 or the source's status bit */
/**
 * 1 when the armed measurement is complete (its post-trigger samples are in), else 0; 0 when no
 * instrument is open. Reads the instrument's status register on every call. The trigger time-out
 * does not end this wait: when no trigger comes, call ADC_ForceTrig() once the host has waited
 * long enough (GetTriggerTimeOut(), say), and keep polling.
 */
RU3_API uint16_t RU3_CALL ADC_Ready(void) RU3_NOEXCEPT;     /* 1 or 0 */
/**
 * Triggers the armed measurement now; it completes after its post-trigger samples. @return RU3_OK;
 * RU3_NOT_INITIALISED when the instrument was never opened.
 */
RU3_API uint16_t RU3_CALL ADC_ForceTrig(void) RU3_NOEXCEPT;
/**
 * Timer-driven measuring on the library's 1 ms poll timer: @p mode -1 measures continuously (each
 * complete record is followed by the next), 0 stops (no further arming), any other value measures
 * one record. The records land in the channel buffers, read with GetMeasurement() and its
 * siblings; no notice of a new record is given. The trigger is forced after the trigger time-out.
 * On Windows the timer runs through the message loop of the thread that called InitInstrument(),
 * which must dispatch messages meanwhile. @return RU3_OK; RU3_NOT_INITIALISED when the instrument
 * was never opened.
 */
RU3_API uint16_t RU3_CALL DoMeasure(int32_t mode) RU3_NOEXCEPT;

/** @} */

/** @name Data read-out
 * Buffers hold GetRecordLength() elements, one per sample; the two-channel functions fill
 * both, whatever the measure mode. Raw codes are the 12-bit conversion shifted left by 4:
 * 0x8000 is 0 V, 0x0000 -range, 0xFFF0 range x 32752/32768. A position that received no sample
 * (the trigger came before the pre-trigger share was sampled) holds RU3_NO_SAMPLE, which no
 * sample can have (a sample's low four bits are 0); in volts it reads -range/32768, so tell such
 * positions by their code. Volts = (code - 32768) x range / 32768, computed in extended
 * precision. Index 0 is the oldest sample; the trigger lies at index record length -
 * GetPostSamples(). ADC_GetData() and its siblings fetch the record from the instrument at
 * their first call after ADC_Start(); GetMeasurement() and its siblings read the buffers as
 * they stand.
 */
/** @{ */
/**
 * Volts of channel 1 into @p ch1 and of channel 2 into @p ch2, record length doubles each, from
 * the channel buffers as they stand (after StartMeasurement(), timer-driven measuring or a
 * fetching read); reads nothing from the instrument. A position without a sample converts to
 * -range/32768 V: tell it by its raw code RU3_NO_SAMPLE (GetMeasurementRaw()). Both buffers are needed
 * whatever the measure mode. @return RU3_OK; RU3_BAD_VALUE for a null buffer.
 */
RU3_API uint16_t RU3_CALL GetMeasurement(double* ch1, double* ch2) RU3_NOEXCEPT;
/**
 * Volts of sample @p index (0 to record length - 1) of channels 1 and 2; like GetMeasurement().
 * @return RU3_BAD_VALUE for an index outside the record or a null pointer.
 */
RU3_API uint16_t RU3_CALL GetOneMeasurement(int32_t index, double* ch1, double* ch2) RU3_NOEXCEPT;
/**
 * Raw codes of channels 1 and 2, record length each, from the channel buffers as they stand;
 * RU3_NO_SAMPLE where a position holds no sample. In one call, so a timer-driven record is never a
 * mixture of two. @return RU3_BAD_VALUE for a null buffer.
 */
RU3_API uint16_t RU3_CALL GetMeasurementRaw(uint16_t* ch1, uint16_t* ch2) RU3_NOEXCEPT;
/**
 * Raw codes of sample @p index (0 to record length - 1) of channels 1 and 2. @return RU3_BAD_VALUE
 * for an index outside the record or a null pointer.
 */
RU3_API uint16_t RU3_CALL GetOneMeasurementRaw(int32_t index, uint16_t* ch1, uint16_t* ch2) RU3_NOEXCEPT;
/**
 * Raw code of sample @p index of channel @p ch (16-bit, 1 or 2). @return RU3_BAD_CHANNEL for
 * another channel; RU3_BAD_VALUE for an index outside the record or a null pointer.
 */
RU3_API uint16_t RU3_CALL GetOneMeasurementRawCh(uint32_t ch, int32_t index, uint16_t* value) RU3_NOEXCEPT;
/**
 * Raw codes of channels 1 and 2, record length each. The first fetching read after ADC_Start()
 * (this function, ADC_GetDataVolt(), ADC_GetDataCh() or ADC_GetDataVoltCh()) reads the record from
 * the instrument, which takes the bus time of the port (about half a second for two channels of
 * 32760 samples); later ones copy it again. It does not wait for the measurement: call it once
 * ADC_Ready() reads 1. @return RU3_BAD_VALUE for a null buffer.
 */
RU3_API uint16_t RU3_CALL ADC_GetData(uint16_t* ch1, uint16_t* ch2) RU3_NOEXCEPT;
/**
 * Volts of channels 1 and 2, record length each; fetches like ADC_GetData(). Positions without a
 * sample read -range/32768 V. @return RU3_BAD_VALUE for a null buffer.
 */
RU3_API uint16_t RU3_CALL ADC_GetDataVolt(double* ch1, double* ch2) RU3_NOEXCEPT;
/**
 * Raw codes of channel @p ch (16-bit, 1 or 2), record length; fetches like ADC_GetData(). @return
 * RU3_BAD_CHANNEL for another channel; RU3_BAD_VALUE for a null buffer.
 */
RU3_API uint16_t RU3_CALL ADC_GetDataCh(uint32_t ch, uint16_t* data) RU3_NOEXCEPT;
/**
 * Volts of channel @p ch (16-bit, 1 or 2), record length; fetches like ADC_GetData(). @return
 * RU3_BAD_CHANNEL for another channel; RU3_BAD_VALUE for a null buffer.
 */
RU3_API uint16_t RU3_CALL ADC_GetDataVoltCh(uint32_t ch, double* data) RU3_NOEXCEPT;

/** @} */

/** @name Digital inputs
 * Not available on this instrument.
 */
/** @{ */
/**
 * Not available on this instrument (it has no digital inputs): RU3_NOT_AVAILABLE, nothing written.
 */
RU3_API uint16_t RU3_CALL GetDigitalInputValues(uint16_t* values) RU3_NOEXCEPT;
RU3_API uint16_t RU3_CALL GetOneDigitalValue(uint32_t unused, uint16_t* value) RU3_NOEXCEPT;

/** @} */

/** @name Channels, record and timebase
 * Which channels, how many samples, how many after the trigger, and how fast.
 */
/** @{ */
/**
 * Writes the measure mode: RU3_MODE_CH1, RU3_MODE_CH2, RU3_MODE_CH12 (the default), RU3_MODE_NONE
 * or RU3_MODE_XY.
 */
RU3_API uint16_t RU3_CALL GetMeasureMode(uint8_t* mode) RU3_NOEXCEPT;
/**
 * Selects the channels to measure (a RU3_MODE_ code). @return RU3_NOT_AVAILABLE for channels 3 and
 * 4 (modes 4 to 15); RU3_BAD_VALUE above 16.
 */
RU3_API uint16_t RU3_CALL SetMeasureMode(uint32_t mode /* byte */) RU3_NOEXCEPT;
/**
 * The record length in samples per channel (default 512); 0 when no instrument is open. Record-
 * length buffers hold this many elements.
 */
RU3_API int32_t RU3_CALL GetRecordLength(void) RU3_NOEXCEPT;
/**
 * Sets the record length in samples per channel, 1 to GetMaxRecordLength() (0 is taken as 1). Set
 * the post-trigger samples after it. @return RU3_BAD_VALUE above the longest record.
 */
RU3_API uint16_t RU3_CALL SetRecordLength(uint32_t length) RU3_NOEXCEPT;
/**
 * The samples recorded after the trigger; the record's first (record length - post samples)
 * positions lie before it. 0 when no instrument is open.
 */
RU3_API int32_t RU3_CALL GetPostSamples(void) RU3_NOEXCEPT;
/**
 * Sets the samples recorded after the trigger, 0 to the record length. @return RU3_BAD_VALUE above
 * the record length.
 */
RU3_API uint16_t RU3_CALL SetPostSamples(uint32_t count) RU3_NOEXCEPT;
/** The sample rate in Hz, rounded; 0 when no instrument is open. */
RU3_API int32_t RU3_CALL GetSampleFrequency(void) RU3_NOEXCEPT;
/**
 * Sets the sample rate: in: the rate wanted in Hz; out: the rate the clock runs at, rounded (the
 * nearest it can make from 400 kHz through a prescaler and a 16-bit divider, at most the fastest
 * rate; rates below the slowest, 400000/1024/65535 Hz, give the slowest). Never refused.
 */
RU3_API uint16_t RU3_CALL SetSampleFrequency(uint32_t* frequency /* in: wanted, out: actual */) RU3_NOEXCEPT;
/** The sample rate in Hz (the rate the clock runs at); 0.0 when no instrument is open. */
RU3_API double RU3_CALL GetSampleFrequencyF(void) RU3_NOEXCEPT;
/** Sets the sample rate like SetSampleFrequency(), in Hz as a double, written back exactly. */
RU3_API uint16_t RU3_CALL SetSampleFrequencyF(double* frequency /* in: wanted, out: actual */) RU3_NOEXCEPT;
/** Writes the resolution in bits, 12. */
RU3_API uint16_t RU3_CALL GetResolution(uint8_t* bits) RU3_NOEXCEPT;
/** Accepts 12 bits, the only resolution. @return RU3_BAD_VALUE for any other. */
RU3_API uint16_t RU3_CALL SetResolution(uint32_t bits /* byte */) RU3_NOEXCEPT;
/** Not available on this instrument: writes 0, returns RU3_NOT_AVAILABLE. */
RU3_API uint16_t RU3_CALL GetExternalClock(uint16_t* on) RU3_NOEXCEPT;
/** Not available on this instrument: RU3_NOT_AVAILABLE. */
RU3_API uint16_t RU3_CALL SetExternalClock(uint32_t on /* 16-bit */) RU3_NOEXCEPT;
/** Not available on this instrument: RU3_NOT_AVAILABLE. */
RU3_API uint16_t RU3_CALL SetInstrumentConfig(uint32_t config /* 16-bit */) RU3_NOEXCEPT;
/** Not available on this instrument: RU3_NOT_AVAILABLE, nothing written. */
RU3_API uint16_t RU3_CALL GetInstrumentConfig(uint16_t* config) RU3_NOEXCEPT;
/** Not available on this instrument: RU3_NOT_AVAILABLE. Records are always read as a block. */
RU3_API uint16_t RU3_CALL SetTransferMode(uint32_t mode /* byte */) RU3_NOEXCEPT;
/** Not available on this instrument: RU3_NOT_AVAILABLE, nothing written. */
RU3_API uint16_t RU3_CALL GetTransferMode(uint32_t* mode) RU3_NOEXCEPT;

/** @} */

/** @name Input ranges and coupling
 * Channels are numbered 1 and 2 (@p ch, a byte); another channel gives RU3_BAD_CHANNEL. Ranges
 * are volts full scale: 0.1, 0.2, 0.4, 0.8, 2, 4, 8, 20, 40 or 80 (an input of +-range).
 */
/** @{ */
/**
 * Writes the input range of channel @p ch in volts full scale (the input spans -range to +range).
 */
RU3_API uint16_t RU3_CALL GetSensitivity(uint32_t ch, double* range) RU3_NOEXCEPT;
/**
 * Sets the input range of channel @p ch: in: the range wanted in volts; out: the range taken, the
 * nearest of GetAvailableSensitivities(). The trigger level and hysteresis are kept as steps of
 * the range: set them after the range.
 */
RU3_API uint16_t RU3_CALL SetSensitivity(uint32_t ch, double* range /* in: wanted, out: actual */) RU3_NOEXCEPT;
/**
 * Writes 1 when channel @p ch ranges automatically, else 0 (the state after InitInstrument()).
 */
RU3_API uint16_t RU3_CALL GetAutoRanging(uint32_t ch, uint8_t* on) RU3_NOEXCEPT;
/**
 * Switches auto-ranging of channel @p ch on (1) or off (0): each measurement judges the record and
 * the next arming moves the range one step towards the one that fits. @return RU3_BAD_VALUE for
 * other values.
 */
RU3_API uint16_t RU3_CALL SetAutoRanging(uint32_t ch, uint32_t on /* byte */) RU3_NOEXCEPT;
/** Writes the coupling of channel @p ch: RU3_COUPLING_DC (0, the default) or RU3_COUPLING_AC (1). */
RU3_API uint16_t RU3_CALL GetCoupling(uint32_t ch, uint8_t* coupling) RU3_NOEXCEPT;
/** Sets the coupling of channel @p ch: RU3_COUPLING_DC or RU3_COUPLING_AC. @return RU3_BAD_VALUE for other values. */
RU3_API uint16_t RU3_CALL SetCoupling(uint32_t ch, uint32_t coupling /* byte, 0 or 1 */) RU3_NOEXCEPT;
/**
 * Not available on this instrument (no DC-level output): RU3_NOT_AVAILABLE, whatever the channel.
 */
RU3_API uint16_t RU3_CALL GetDcLevel(uint32_t ch, double* level) RU3_NOEXCEPT;
/** Not available on this instrument: RU3_NOT_AVAILABLE, whatever the channel. */
RU3_API uint16_t RU3_CALL SetDcLevel(uint32_t ch, double level) RU3_NOEXCEPT;

/** @} */

/** @name Trigger
 * Channels are numbered 1 and 2 (@p ch, a byte), trigger sources by ordinals from 0
 * (RU3_TRIG_CH1 is 0). Trigger kinds, the same for both channels (the instrument applies
 * channel 1's): 0 fires on a rising slope through the level, re-armed below level - hysteresis
 * (the default); 1 on a falling slope, re-armed above level + hysteresis; 2 on a falling slope
 * with the hysteresis below the level; 3 on either slope. Level and hysteresis are kept as
 * steps of the channel's range (range/128): changing the range scales them, so set them after
 * the range.
 */
/** @{ */
/** Writes the trigger source ordinal (a RU3_TRIG_ code; default RU3_TRIG_CH1). */
RU3_API uint16_t RU3_CALL GetTriggerSource(uint8_t* source) RU3_NOEXCEPT;
/**
 * Sets the trigger source by its ordinal from 0: RU3_TRIG_CH1 (0) is channel 1, RU3_TRIG_CH2 (1)
 * channel 2, RU3_TRIG_NONE (9) measures free-running. @return RU3_NOT_AVAILABLE for the sources
 * this instrument lacks (2 to 8, 10 to 14); RU3_BAD_VALUE from 15.
 */
RU3_API uint16_t RU3_CALL SetTriggerSource(uint32_t source /* byte */) RU3_NOEXCEPT;
/**
 * Writes the trigger kind (0 to 3) of channel 1, which the instrument applies whichever channel
 * triggers. Writes nothing (and returns RU3_OK) while the source is RU3_TRIG_NONE: use
 * GetTriggerModeCh() then.
 */
RU3_API uint16_t RU3_CALL GetTriggerMode(uint8_t* mode) RU3_NOEXCEPT;
/**
 * Sets the trigger kind 0 to 3 of every channel (see the trigger group). @return RU3_NOT_AVAILABLE
 * for kinds 4 to 11; RU3_BAD_VALUE from 12.
 */
RU3_API uint16_t RU3_CALL SetTriggerMode(uint32_t mode /* byte */) RU3_NOEXCEPT;
/**
 * Writes the trigger kind of @p input (1 or 2; 0, the external input, this instrument lacks).
 * @return RU3_BAD_CHANNEL for other inputs.
 */
RU3_API uint16_t RU3_CALL GetTriggerModeCh(uint32_t input /* byte, 0 = external */, uint8_t* mode) RU3_NOEXCEPT;
/**
 * Sets the trigger kind of @p input (1 or 2). The instrument uses channel 1's kind whichever
 * channel triggers. @return RU3_BAD_CHANNEL for other inputs; RU3_NOT_AVAILABLE for kinds 4 to 11;
 * RU3_BAD_VALUE from 12.
 */
RU3_API uint16_t RU3_CALL SetTriggerModeCh(uint32_t input /* byte */, uint32_t mode /* byte */) RU3_NOEXCEPT;
/** Writes the trigger level of channel @p ch in volts. */
RU3_API uint16_t RU3_CALL GetTriggerLevel(uint32_t ch, double* level) RU3_NOEXCEPT;
/**
 * Sets the trigger level of channel @p ch in volts, -range to +range of the channel, in steps of
 * range/128 (rounded). @return RU3_BAD_VALUE outside the range.
 */
RU3_API uint16_t RU3_CALL SetTriggerLevel(uint32_t ch, double level) RU3_NOEXCEPT;
/** Writes the trigger hysteresis of channel @p ch in volts. */
RU3_API uint16_t RU3_CALL GetTriggerHys(uint32_t ch, double* hysteresis) RU3_NOEXCEPT;
/**
 * Sets the trigger hysteresis of channel @p ch in volts, in steps of range/128, at most 2 x range.
 * @return RU3_BAD_VALUE when negative, or when the band leaves the range for the trigger kind
 * (kind 0: level - hysteresis below -range; kind 1: level + hysteresis above +range).
 */
RU3_API uint16_t RU3_CALL SetTriggerHys(uint32_t ch, double hysteresis) RU3_NOEXCEPT;
/** Not available on this instrument (no PXI trigger lines): RU3_NOT_AVAILABLE. */
RU3_API uint16_t RU3_CALL GetPXITriggerSlopes(uint8_t* slopes) RU3_NOEXCEPT;
/** Not available on this instrument: RU3_NOT_AVAILABLE. */
RU3_API uint16_t RU3_CALL SetPXITriggerSlopes(uint32_t slopes /* byte */) RU3_NOEXCEPT;
/** Not available on this instrument: RU3_NOT_AVAILABLE. */
RU3_API uint16_t RU3_CALL GetPXITriggerEnables(uint8_t* enables) RU3_NOEXCEPT;
/** Not available on this instrument: RU3_NOT_AVAILABLE. */
RU3_API uint16_t RU3_CALL SetPXITriggerEnables(uint32_t enables /* byte */) RU3_NOEXCEPT;
/**
 * The trigger time-out in milliseconds, -1 for none (RU3_TIMEOUT_NONE); 1 when no instrument is
 * open.
 */
RU3_API int32_t RU3_CALL GetTriggerTimeOut(void) RU3_NOEXCEPT;
/**
 * Sets the trigger time-out in milliseconds (default 1000), or RU3_TIMEOUT_NONE to wait for ever.
 * StartMeasurement() and timer-driven measuring force the trigger once it has passed after arming
 * (there a time-out shorter than one sample period measures free-running). In block style the host
 * forces the trigger itself (ADC_ForceTrig()).
 */
RU3_API uint16_t RU3_CALL SetTriggerTimeOut(uint32_t milliseconds) RU3_NOEXCEPT;

/** @} */

/** @name Calibration and identity
 * From the instrument's EEPROM, read at opening.
 */
/** @{ */
/**
 * Writes the date of the factory calibration, packed as day << 24 | month << 16 | year (15 March
 * 2003 is 0x0F0307D3); 1 January 1980 when the stored date is not valid.
 */
RU3_API uint16_t RU3_CALL GetCalibrationDate(int32_t* date) RU3_NOEXCEPT;
/** Writes the instrument's serial number. */
RU3_API uint16_t RU3_CALL GetSerialNumber(int32_t* serial) RU3_NOEXCEPT;
/** Fills 20 doubles: the resolutions in bits (12), then zeros. */
RU3_API uint16_t RU3_CALL GetAvailableResolutions(double* resolutions) RU3_NOEXCEPT;
/**
 * Fills 20 doubles: the input ranges in volts full scale, largest first (80, 40, 20, 8, 4, 2, 0.8,
 * 0.4, 0.2, 0.1), then zeros.
 */
RU3_API uint16_t RU3_CALL GetAvailableSensitivities(double* ranges) RU3_NOEXCEPT;

/** @} */

/** @name Square-wave generator
 * Not on this instrument.
 */
/** @{ */
/** Not on this instrument: returns 0 (a frequency, not a status). */
RU3_API int32_t RU3_CALL GetSquareWaveGenFrequency(void) RU3_NOEXCEPT;
/** Not on this instrument: RU3_NO_GENERATOR, nothing changed. */
RU3_API uint16_t RU3_CALL SetSquareWaveGenFrequency(uint32_t* frequency) RU3_NOEXCEPT;
/** @} */

/** @name Function generator
 * Not on this instrument.
 */
/** @{ */
/**
 * Not on this instrument: RU3_NO_GENERATOR, nothing written or changed. GetFuncGenOutputOn() and
 * GetFuncGenEnable() write 0 first; the trigger-source, burst, mode and amplitude-range functions
 * and SetFuncGenEnable() return RU3_NOT_AVAILABLE instead.
 */
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

/** @} */

/** @name Digital outputs, resistance measurement, serial bus
 * Not on this instrument.
 */
/** @{ */
/**
 * Not on this instrument (no digital outputs, no resistance measurement, no serial bus for the
 * host): RU3_NOT_AVAILABLE while an instrument is open. The arguments are not used.
 */
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

/** @} */

/** @name Unit selection, DAC and motor outputs
 * Up to four units share one port; the unit numbers are bytes 1 to 4.
 */
/** @{ */
/** Writes the selected unit, 1 to 4; 0 until one was selected (unit 1 is addressed then). */
RU3_API uint16_t RU3_CALL GetActiveRU3(uint8_t* unit) RU3_NOEXCEPT;
/**
 * Selects the unit on the port that all further calls address, 1 to 4; another value is stored and
 * selects nothing. Takes effect at once, also in a measurement in progress. @return
 * RU3_NO_INSTRUMENT when no instrument is open.
 */
RU3_API uint16_t RU3_CALL SetActiveRU3(uint32_t unit /* byte */) RU3_NOEXCEPT;
/**
 * Sets the two DAC outputs in volts, each limited to -10 to +10 V, in 12-bit steps. They hold
 * until changed; closing sets them to 0 V. @return RU3_NO_INSTRUMENT when no instrument is open.
 */
RU3_API uint16_t RU3_CALL SetDAC7394(double ch1, double ch2) RU3_NOEXCEPT;
/**
 * Switches the two motor outputs: a non-zero low byte of @p first or @p second switches that
 * output on. Closing switches them off. @return RU3_NO_INSTRUMENT when no instrument is open.
 */
RU3_API uint16_t RU3_CALL SetMotorOn(uint32_t first /* byte */, uint32_t second /* byte */) RU3_NOEXCEPT;

/** @} */

#ifdef __cplusplus
}
#endif

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

/* The library's extension for modern hosts, after the family's 115. */
#include "ru3_extension.h"

#endif /* RU3_RU3_H */

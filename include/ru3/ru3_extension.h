/**
 * @file ru3_extension.h
 * @brief The library's extension for modern hosts, beyond the 115 functions
 * of the instrument family: full pre-trigger records, and the facts of the
 * record in the buffers. Included by ru3.h; the same conventions hold
 * (calling convention RU3_CALL, a 16-bit RU3_* status, the presence check
 * first, a null pointer gives RU3_BAD_VALUE).
 *
 * Full pre-trigger. The instrument triggers from the moment it is armed, so
 * when the trigger comes before the pre-trigger part (record length minus
 * post samples) has been sampled, the record's leading positions hold
 * RU3_NO_SAMPLE. With full pre-trigger on, the library arms the instrument
 * with a trigger source that never fires and holds the trigger off until the
 * pre-trigger part is full; then it programs the trigger source that is set.
 * The hold-off ends at the first poll step after the part is full: a tick of
 * the timer of DoMeasure(), a step of StartMeasurement()'s wait, or a call of
 * ADC_Ready() or ADC_Triggered() in block style (a host in block style polls
 * anyway). So every record is full, and a trigger in the hold-off is not
 * seen (as on a bench scope).
 *  - The trigger time-out counts from the end of the hold-off.
 *  - ADC_ForceTrig() during the hold-off is kept and fires when it ends (at
 *    once if the part is full already): a forced record is full too.
 *  - A record length equal to the post samples (no pre-trigger part) has no
 *    hold-off: the trigger source is programmed at arming, as with it off.
 *  - The library times the hold-off with its 1 ms tick count and the sample
 *    rate (no port traffic beyond the usual status read of a poll). It waits one tick more than the
 *    part takes, so it ends at most one tick late: at 200 kHz some 200
 *    samples later than needed, at 1 kHz one. The record is never short;
 *    only the earliest trigger it can show comes up to about 2 ms after the
 *    arm at the fast rates.
 *  - Off (the default, also after every InitInstrument()), the library
 *    arms and triggers exactly as the instrument family's hosts expect.
 *
 * Record facts. Ext_GetRecordInfo() describes the record now in the channel
 * buffers (what the ADC_GetData() and GetMeasurement() families return):
 * its sequence number changes with each record read, so a host reading on a
 * timer knows whether a new one came.
 */
#ifndef RU3_RU3_EXTENSION_H
#define RU3_RU3_EXTENSION_H

#include <stdint.h>

#include "ru3.h" /* RU3_API, RU3_CALL, RU3_NOEXCEPT */

#ifdef __cplusplus
extern "C" {
#endif

/** The facts of the record in the channel buffers. The caller sets @c size
 * to sizeof(RU3RecordInfo); the library fills at most that many bytes and
 * sets @c size to the number it filled (later versions may add fields at the
 * end). */
typedef struct RU3RecordInfo {
  uint32_t size;              /**< in: bytes the caller provides; out: bytes filled */
  uint32_t sequence;          /**< 0: no record read since InitInstrument(); then 1, 2, ... per record read (past 0xFFFFFFFF back to 1) */
  double sample_rate;         /**< hertz, the rate the record was sampled at */
  double range[2];            /**< full-scale range of channel 1 and 2 in volts, the factor of their volts */
  int32_t coupling[2];        /**< RU3_COUPLING_* of channel 1 and 2 when the record was armed */
  int32_t unit;               /**< the unit (1..4) it was measured on */
  int32_t length;             /**< positions of the record (pre + post samples) */
  int32_t trigger_position;   /**< position where the trigger (or the force) registered: the pre-trigger samples; negative when the record is shorter than its post samples */
  int32_t first_sample;       /**< first position holding a sample; the ones before hold RU3_NO_SAMPLE (0 for a full record; length when none) */
  int32_t forced;             /**< 1 when the record was not ended by its trigger condition (forced by ADC_ForceTrig() or the time-out, or free-running), else 0 */
  int32_t full_pretrigger;    /**< 1 when it was armed with the pre-trigger hold-off */
  int32_t channels;           /**< bit 0 channel 1, bit 1 channel 2: the buffers this record was read into (the other keeps an older record) */
} RU3RecordInfo;

/** Full pre-trigger on (1) or off (0, the default); other values give
 * RU3_BAD_VALUE. Takes effect at the next arming; a record under way is
 * left as it was armed. */
RU3_API uint16_t RU3_CALL Ext_SetFullPreTrigger(uint32_t on /* byte */) RU3_NOEXCEPT;
/** Whether full pre-trigger is on (1) or off (0). */
RU3_API uint16_t RU3_CALL Ext_GetFullPreTrigger(uint8_t* on) RU3_NOEXCEPT;
/** Fills @p info with the facts of the record in the buffers (see
 * RU3RecordInfo); @c size below 8 gives RU3_BAD_VALUE. Reads no port. */
RU3_API uint16_t RU3_CALL Ext_GetRecordInfo(RU3RecordInfo* info) RU3_NOEXCEPT;

#ifdef __cplusplus
}
#endif

/**
 * @def RU3_EXTENSION_TABLE
 * The extension's exports with their DLL.dll ordinals, after the 117 slots
 * of the instrument family's table (RU3_EXPORT_TABLE).
 */
#define RU3_EXTENSION_TABLE(X) \
  X(118, Ext_SetFullPreTrigger) X(119, Ext_GetFullPreTrigger) X(120, Ext_GetRecordInfo)

#define RU3_EXTENSION_COUNT 3   /**< exports of the extension */

#endif /* RU3_RU3_EXTENSION_H */

/* A host that measures in block style: set up, start, poll until the record is
 * complete (forcing the trigger once the time-out has passed: in block style
 * that is the host's job), then read the volts. Build it against the installed
 * library with (it uses the maths library itself: -lm)
 *
 *   cc block_capture.c $(pkg-config --cflags --libs ru3) -lm -o block_capture
 *
 * Against a library installed under a prefix the loader does not search
 * (/opt/ru3, say), point pkg-config at it and record the library's directory
 * in the program, or run the program with LD_LIBRARY_PATH=/opt/ru3/lib:
 *
 *   export PKG_CONFIG_PATH=/opt/ru3/lib/pkgconfig
 *   cc block_capture.c $(pkg-config --cflags --libs ru3) -lm -Wl,-rpath,$(pkg-config --variable=libdir ru3) -o block_capture
 *
 * and run it on the simulator: RU3_SIMULATOR='ch1=sine,1.5,1000' ./block_capture
 * The optional argument is the trigger level in volts (default 0). */
#define _POSIX_C_SOURCE 199309L
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "ru3/ru3.h"

enum { kLength = 2000, kNoSample = 0x7FFF };

static double seconds_now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static int check(uint16_t status, const char* what) {
  if (status != RU3_OK) fprintf(stderr, "block_capture: %s failed with status %u\n", what, (unsigned)status);
  return status == RU3_OK;
}

static int measure(double level) {
  double rate = 100000.0;
  double range[2] = {2.0, 0.8};
  /* Channels 1 and 2, 100 kHz, 2000 samples with the trigger in the middle. */
  if (!check(SetMeasureMode(RU3_MODE_CH12), "SetMeasureMode") ||
      !check(SetSampleFrequencyF(&rate), "SetSampleFrequencyF") ||
      !check(SetRecordLength(kLength), "SetRecordLength") || !check(SetPostSamples(kLength / 2), "SetPostSamples"))
    return 0;
  for (uint32_t ch = 1; ch <= 2; ++ch) {
    if (!check(SetAutoRanging(ch, 0), "SetAutoRanging") || !check(SetSensitivity(ch, &range[ch - 1]), "SetSensitivity"))
      return 0;
  }
  /* Trigger on channel 1 (source ordinal 0), rising through the level; wait
   * at most 100 ms for it. */
  if (!check(SetTriggerSource(RU3_TRIG_CH1), "SetTriggerSource") || !check(SetTriggerMode(0), "SetTriggerMode") ||
      !check(SetTriggerLevel(1, level), "SetTriggerLevel") || !check(SetTriggerTimeOut(100), "SetTriggerTimeOut"))
    return 0;
  const double timeout = GetTriggerTimeOut() / 1000.0;

  if (!check(ADC_Start(), "ADC_Start")) return 0;
  const double started = seconds_now();
  int forced = 0;
  while (ADC_Ready() == 0) {
    if (!forced && seconds_now() - started >= timeout) {
      if (!check(ADC_ForceTrig(), "ADC_ForceTrig")) return 0;
      forced = 1;
    }
    struct timespec pause = {0, 1000000};
    nanosleep(&pause, NULL);
  }

  static double volts[2][kLength];
  static uint16_t codes[2][kLength];
  /* The first read fetches the record from the instrument; the others use it. */
  if (!check(ADC_GetDataVolt(volts[0], volts[1]), "ADC_GetDataVolt") ||
      !check(ADC_GetData(codes[0], codes[1]), "ADC_GetData"))
    return 0;
  printf("%.0f Hz, %d samples, trigger %s\n", rate, kLength, forced ? "forced after the time-out" : "came");
  for (int ch = 0; ch < 2; ++ch) {
    double low = INFINITY, high = -INFINITY;
    int empty = 0;
    for (int i = 0; i < kLength; ++i) {
      /* A position that received no sample holds 0x7FFF, not a voltage. */
      if (codes[ch][i] == kNoSample) {
        ++empty;
        continue;
      }
      low = fmin(low, volts[ch][i]);
      high = fmax(high, volts[ch][i]);
    }
    printf("channel %d (range %g V): min %.4f V, max %.4f V, %d positions without a sample\n", ch + 1,
           range[ch], low, high, empty);
  }
  return 1;
}

int main(int argc, char** argv) {
  const double level = argc > 1 ? atof(argv[1]) : 0.0;
  if (InitInstrument(0) != RU3_OK) {
    fprintf(stderr, "block_capture: no instrument found\n");
    ExitInstrument();
    return 1;
  }
  const int ok = measure(level);
  ExitInstrument();
  return ok ? 0 : 1;
}

/* A minimal host of the RU3 driver: opens the instrument, says what it found,
 * and closes it again. Uses nothing but the public header. */
#include <stdio.h>

#include "ru3/ru3.h"

int main(void) {
  uint16_t status = InitInstrument(0);
  printf("InitInstrument: %u (%s)\n", (unsigned)status,
         status == RU3_OK ? "instrument open" : "no instrument");
  if (status == RU3_OK) {
    uint16_t channels = 0;
    GetNrChannels(&channels);
    printf("channels: %u, max sample frequency: %ld Hz, max record length: %ld\n", (unsigned)channels,
           (long)GetMaxSampleFrequency(), (long)GetMaxRecordLength());
  }
  ExitInstrument();
  return status == RU3_OK ? 0 : 1;
}

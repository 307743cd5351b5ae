/* The guest's side of the real-kernel stage: a host of libru3.so through the
 * public header, and a stand-in for another program holding a port.
 *   guest_probe measure           open, record 32760 samples of both channels
 *                                 in volts, check the simulator's signals
 *   guest_probe busy-then-open N  open while another program holds parportN
 *                                 (must fail within about a second), then
 *                                 retry in this process until it opens
 *   guest_probe hold N SECONDS    claim /dev/parportN, keep it, release it
 *                                 and say how long the release took
 *   guest_probe interrupt N       libieee1284's claim of parportN while a
 *                                 child process holds it, ended by a signal:
 *                                 how the claim returns, and whether the
 *                                 holder's release waits for it
 * Each prints lines "PROBE <what> ..." for the stage to check. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <ieee1284.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <linux/ppdev.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include "ru3/ru3.h"

enum { kLength = 32760 };

static double NowMs(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

static uint16_t TimedInit(const char* what) {
  const double start = NowMs();
  const uint16_t status = InitInstrument(0);
  printf("PROBE %s status=%u ms=%.0f\n", what, (unsigned)status, NowMs() - start);
  fflush(stdout);
  return status;
}

static void Extremes(const double* v, int n, double* lo, double* hi) {
  *lo = *hi = v[0];
  for (int i = 1; i < n; ++i) {
    if (v[i] < *lo) *lo = v[i];
    if (v[i] > *hi) *hi = v[i];
  }
}

/* A 1 V sine on channel 1 and a 0.5 V square on channel 2, within three
 * conversion steps of their ranges. */
static int Measure(void) {
  double range1 = 2.0, range2 = 0.8;
  if (SetSensitivity(1, &range1) != RU3_OK || SetSensitivity(2, &range2) != RU3_OK) return 1;
  if (SetMeasureMode(3) != RU3_OK || SetRecordLength(kLength) != RU3_OK || SetTriggerSource(0) != RU3_OK) return 1;
  const double start = NowMs();
  if (ADC_Start() != RU3_OK) return 1;
  while (ADC_Ready() != 1) {
    if (NowMs() - start > 60000) {
      printf("PROBE measure timeout\n");
      return 1;
    }
  }
  static double ch1[kLength], ch2[kLength];
  if (ADC_GetDataVolt(ch1, ch2) != RU3_OK) return 1;
  double lo1, hi1, lo2, hi2;
  Extremes(ch1, kLength, &lo1, &hi1);
  Extremes(ch2, kLength, &lo2, &hi2);
  const double s1 = 3 * range1 / 2048, s2 = 3 * range2 / 2048;
  const int ok = hi1 > 1 - s1 && hi1 < 1 + s1 && lo1 > -1 - s1 && lo1 < -1 + s1 && hi2 > 0.5 - s2 &&
                 hi2 < 0.5 + s2 && lo2 > -0.5 - s2 && lo2 < -0.5 + s2;
  printf("PROBE measure %s samples=%d ch1=%.3f..%.3f V ch2=%.3f..%.3f V ms=%.0f\n", ok ? "ok" : "wrong", kLength, lo1,
         hi1, lo2, hi2, NowMs() - start);
  return ok ? 0 : 1;
}

static int Active(int n, char* name, size_t size) {
  char path[64];
  snprintf(path, sizeof path, "/proc/sys/dev/parport/parport%d/devices/active", n);
  FILE* f = fopen(path, "r");
  if (f == NULL) return 0;
  const int got = fscanf(f, "%31s", name) == 1;
  fclose(f);
  (void)size;
  return got && strcmp(name, "none") != 0;
}

static int BusyThenOpen(int n) {
  if (TimedInit("busy") == RU3_OK) return 1;
  ExitInstrument();
  char holder[32] = "";
  const double start = NowMs();
  while (Active(n, holder, sizeof holder)) {
    if (NowMs() - start > 30000) return 1;
    usleep(20000);
  }
  /* The port is free now: this process opens it at the next try. */
  const uint16_t status = TimedInit("retry");
  if (status != RU3_OK) return 1;
  const int result = Measure();
  ExitInstrument();
  return result;
}

static int Hold(int n, double seconds) {
  char path[32];
  snprintf(path, sizeof path, "/dev/parport%d", n);
  const int fd = open(path, O_RDWR);
  if (fd < 0 || ioctl(fd, PPCLAIM) != 0) {
    printf("PROBE hold cannot claim %s\n", path);
    return 1;
  }
  printf("PROBE hold claimed %s\n", path);
  fflush(stdout);
  usleep((useconds_t)(seconds * 1e6));
  const double start = NowMs();
  const int released = ioctl(fd, PPRELEASE);
  printf("PROBE hold released=%d ms=%.0f\n", released, NowMs() - start);
  fflush(stdout);
  close(fd);
  return released == 0 ? 0 : 1;
}

static void Interrupted(int signal) { (void)signal; }

static void* ClaimThread(void* port) {
  const double start = NowMs();
  const int result = ieee1284_claim((struct parport*)port);
  printf("PROBE interrupt claim=%d ms=%.0f\n", result, NowMs() - start);
  return NULL;
}

static int Interrupt(int n) {
  struct parport_list list;
  if (ieee1284_find_ports(&list, 0) != E1284_OK || n >= list.portc) return 1;
  struct parport* port = list.portv[n];
  int ready[2];
  if (pipe(ready) != 0) return 1;
  const pid_t child = fork();
  if (child == 0) {
    char path[32];
    snprintf(path, sizeof path, "/dev/parport%d", n);
    const int fd = open(path, O_RDWR);
    if (fd < 0 || ioctl(fd, PPCLAIM) != 0) _exit(1);
    (void)write(ready[1], "x", 1);
    usleep(600000);
    const double start = NowMs();
    const int released = ioctl(fd, PPRELEASE);
    printf("PROBE interrupt holder released=%d ms=%.0f\n", released, NowMs() - start);
    close(fd);
    _exit(0);
  }
  char byte;
  if (read(ready[0], &byte, 1) != 1) return 1;
  /* Opened after the fork: a descriptor the child shared would stay open
   * until it exits, and an interrupted claim stays queued for the port while
   * its descriptor is open (the holder's release hands it the port). */
  if (ieee1284_open(port, 0, NULL) != E1284_OK) return 1;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = Interrupted;  /* no SA_RESTART */
  sigaction(SIGUSR1, &action, NULL);
  pthread_t thread;
  pthread_create(&thread, NULL, ClaimThread, port);
  usleep(300000);
  pthread_kill(thread, SIGUSR1);
  pthread_join(thread, NULL);
  ieee1284_close(port);
  int status = 0;
  waitpid(child, &status, 0);
  ieee1284_free_ports(&list);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  if (argc >= 2 && strcmp(argv[1], "measure") == 0) {
    if (TimedInit("init") != RU3_OK) return 1;
    const int result = Measure();
    ExitInstrument();
    return result;
  }
  if (argc >= 3 && strcmp(argv[1], "busy-then-open") == 0) return BusyThenOpen(atoi(argv[2]));
  if (argc >= 4 && strcmp(argv[1], "hold") == 0) return Hold(atoi(argv[2]), atof(argv[3]));
  if (argc >= 3 && strcmp(argv[1], "interrupt") == 0) return Interrupt(atoi(argv[2]));
  fprintf(stderr, "usage: guest_probe measure | busy-then-open N | hold N SECONDS | interrupt N\n");
  return 2;
}

/* A Win32 host of DLL.dll (32- or 64-bit), run under Wine: loads the library
 * by name, resolves functions by name and by ordinal, and measures a known
 * signal (a 1.5 V sine on channel 1) in block, synchronous and timer-driven
 * style. Prints one line per check and, at the end, "N passed, N failed".
 * Exit status 0 when all passed.
 *   host_test          the library's simulator back end (RU3_SIMULATOR)
 *   host_test inpout   the real port-access path, through the stand-in InpOut
 *                      DLL and the simulated instrument behind it
 *   host_test notice   no way to the ports: no instrument (the driver notice
 *                      is checked on standard error by the test) */
#include <windows.h>

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "ru3/ru3.h"

static int passed = 0, failed = 0;

static void check(int ok, const char* what) {
  printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (ok) ++passed; else ++failed;
}

typedef uint16_t(__stdcall* FnInit)(uint32_t);
typedef uint16_t(__stdcall* FnVoid)(void);
typedef int32_t(__stdcall* FnInt)(void);
typedef double(__stdcall* FnDouble)(void);
typedef uint16_t(__stdcall* FnSetLevel)(uint32_t, double);
typedef uint16_t(__stdcall* FnGetLevel)(uint32_t, double*);
typedef uint16_t(__stdcall* FnDac)(double, double);
typedef uint16_t(__stdcall* FnSens)(uint32_t, double*);
typedef uint16_t(__stdcall* FnFreq)(uint32_t*);
typedef uint16_t(__stdcall* FnTwoD)(double*, double*);
typedef uint16_t(__stdcall* FnTwoW)(uint16_t*, uint16_t*);
typedef uint16_t(__stdcall* FnMode)(int32_t);
typedef uint16_t(__stdcall* FnU32)(uint32_t);
typedef uint16_t(__stdcall* FnOne)(int32_t, double*, double*);

static HMODULE dll;

static FARPROC by_name(const char* name) { return GetProcAddress(dll, name); }
static FARPROC by_ordinal(int ordinal) { return GetProcAddress(dll, (LPCSTR)(ULONG_PTR)ordinal); }

#if defined(__i386__)
#define INPOUT_DLL "inpout32.dll"
#define CLEANS(bytes) " cleans its " #bytes " bytes"
/* Calls through a __stdcall pointer and reports whether the stack pointer is
 * where it was: the callee must remove its own arguments, 16 bytes for two
 * doubles or a channel and a double. */
static int stack_balanced_dac(FnDac f) {
  unsigned before = 0, after = 0;
  __asm__ volatile("movl %%esp, %0" : "=r"(before));
  f(1.0, -2.0);
  __asm__ volatile("movl %%esp, %0" : "=r"(after));
  return before == after;
}
static int stack_balanced_level(FnSetLevel f) {
  unsigned before = 0, after = 0;
  uint16_t status;
  __asm__ volatile("movl %%esp, %0" : "=r"(before));
  status = f(1, 0.5);
  __asm__ volatile("movl %%esp, %0" : "=r"(after));
  return before == after && status == RU3_OK;
}

#else
/* x86-64 has one calling convention: the caller cleans up. */
#define INPOUT_DLL "inpoutx64.dll"
#define CLEANS(bytes) " returns"
static int stack_balanced_dac(FnDac f) { return f(1.0, -2.0) == RU3_OK; }
static int stack_balanced_level(FnSetLevel f) { return f(1, 0.5) == RU3_OK; }
#endif

/* The receiver is a hidden top-level window, or a message-only one where the
 * session has no desktop (Wine without a display). */
static HWND find_receiver(void) {
  HWND hwnd = FindWindowA("TDeviceMessageReceiver", NULL);
  if (hwnd == NULL) hwnd = FindWindowExA(HWND_MESSAGE, NULL, "TDeviceMessageReceiver", NULL);
  return hwnd;
}

static void pump_messages(DWORD milliseconds) {
  DWORD start = GetTickCount();
  MSG msg;
  while (GetTickCount() - start < milliseconds) {
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(1);
  }
}

int main(int argc, char** argv) {
  static double v1[32760], v2[32760];
  int i, n_names_ok = 1, record;
  const char* mode = argc > 1 ? argv[1] : "simulator";
  dll = LoadLibraryA("DLL.dll");
  check(dll != NULL, "LoadLibraryA(\"DLL.dll\")");
  if (dll == NULL) { printf("0 passed, 1 failed\n"); return 1; }

  if (strcmp(mode, "notice") == 0) {
    check(((FnInit)by_name("InitInstrument"))(0) == RU3_NO_INSTRUMENT, "no port access: InitInstrument finds no instrument");
    ((FnVoid)by_name("ExitInstrument"))();
    FreeLibrary(dll);
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
  }

  /* Every name of the export table resolves, and to the same code as its
   * ordinal; the two empty ordinals resolve to nothing. */
#define RESOLVE(ord, name) \
  if (by_name(#name) == NULL || by_name(#name) != by_ordinal(ord)) { n_names_ok = 0; printf("  mismatch: %s @%d\n", #name, ord); }
  RU3_EXPORT_TABLE(RESOLVE)
#undef RESOLVE
  check(n_names_ok, "all 115 names resolve, by name and by ordinal alike");
  n_names_ok = 1;
#define RESOLVE(ord, name) \
  if (by_name(#name) == NULL || by_name(#name) != by_ordinal(ord)) { n_names_ok = 0; printf("  mismatch: %s @%d\n", #name, ord); }
  RU3_EXTENSION_TABLE(RESOLVE)
#undef RESOLVE
  check(n_names_ok, "the extension's names resolve at their ordinals after the 115");
  check(by_ordinal(68) == NULL && by_ordinal(69) == NULL, "ordinals 68 and 69 are empty");

  FnInit init = (FnInit)by_ordinal(1);
  FnVoid exit_ = (FnVoid)by_name("ExitInstrument");
  check(init(0) == RU3_OK, "InitInstrument opens the simulated instrument");
  check(((FnInt)by_name("GetMaxSampleFrequency"))() == 200000, "GetMaxSampleFrequency is 200000");

  check(stack_balanced_dac((FnDac)by_name("SetDAC7394")), "SetDAC7394(double, double)" CLEANS(16));
  check(stack_balanced_level((FnSetLevel)by_ordinal(36)), "SetTriggerLevel(ch, double)" CLEANS(12));
  {
    double level = 99.0;
    uint16_t status = ((FnGetLevel)by_name("GetTriggerLevel"))(1, &level);
    /* Level codes are 8 bits, 128 per full scale of the 80 V range. */
    check(status == RU3_OK && fabs(level - 0.5) <= 80.0 / 128.0 / 2.0, "GetTriggerLevel reads back the level just set");
    ((FnSetLevel)by_name("SetTriggerLevel"))(1, 0.0);
  }

  {
    double range = 1.9;
    uint16_t s1, s2;
    uint32_t freq = 100000;
    s1 = ((FnSens)by_name("SetSensitivity"))(1, &range);
    range = 2.0;
    s2 = ((FnSens)by_name("SetSensitivity"))(2, &range);
    check(s1 == RU3_OK && s2 == RU3_OK && range == 2.0, "SetSensitivity selects the 2 V range");
    check(((FnFreq)by_name("SetSampleFrequency"))(&freq) == RU3_OK && freq == 100000,
          "SetSampleFrequency 100000 Hz");
  }
  record = ((FnInt)by_name("GetRecordLength"))();
  check(record == 512, "record length 512");

  /* Block style. */
  {
    int ready = 0;
    DWORD start = GetTickCount();
    check(((FnVoid)by_name("ADC_Start"))() == RU3_OK, "ADC_Start");
    while (!ready && GetTickCount() - start < 5000) {
      ready = ((FnVoid)by_name("ADC_Ready"))() == 1;
      if (!ready) ((FnVoid)by_name("ADC_ForceTrig"))();
    }
    check(ready, "ADC_Ready within 5 s");
    check(((FnTwoD)by_name("ADC_GetDataVolt"))(v1, v2) == RU3_OK, "ADC_GetDataVolt");
    {
      double lo = 1e9, hi = -1e9;
      for (i = 0; i < record; ++i) { if (v1[i] < lo) lo = v1[i]; if (v1[i] > hi) hi = v1[i]; }
      printf("  block record ch1: %.3f .. %.3f V\n", lo, hi);
      /* Five periods of the 1.5 V sine, with 20 mV of noise. */
      check(fabs(hi - 1.5) < 0.1 && fabs(lo + 1.5) < 0.1, "block record holds the 1.5 V sine");
    }
  }

  /* Synchronous. */
  check(((FnVoid)by_name("StartMeasurement"))() == RU3_OK, "StartMeasurement");
  check(((FnTwoD)by_name("GetMeasurement"))(v1, v2) == RU3_OK, "GetMeasurement after StartMeasurement");

  /* Timer-driven: records arrive while the host pumps its message loop. A
   * sample late in the record is always written (a record triggered soon
   * after arming has no samples before the trigger's pre-trigger share), and
   * the simulator's noise makes every record differ there. */
  {
    double first = 0.0, a = 0.0, b = 0.0;
    int changes = 0, k;
    FnOne one = (FnOne)by_name("GetOneMeasurement");
    check(((FnMode)by_name("DoMeasure"))(-1) == RU3_OK, "DoMeasure(-1)");
    one(record - 20, &first, &b);
    for (k = 0; k < 20; ++k) {
      pump_messages(50);
      one(record - 20, &a, &b);
      if (a != first) { ++changes; first = a; }
    }
    printf("  sample %d changed %d times in 1 s of message loop\n", record - 20, changes);
    check(changes >= 2, "timer-driven measuring delivers new records through the message loop");
    ((FnMode)by_name("DoMeasure"))(0);
  }

  /* The hidden window answers the private message 0x40D. */
  {
    HWND hwnd = find_receiver();
    check(hwnd != NULL, "the hidden TDeviceMessageReceiver window exists");
    if (hwnd != NULL) {
      PostMessageA(hwnd, WM_USER + 13, 0, 0);
      pump_messages(100);
      check(1, "0x40D delivered (notice on standard error)");
    }
  }

  if (strcmp(mode, "inpout") == 0) {
    /* The stand-in counts the port accesses that came through it. */
    typedef unsigned long long(__stdcall * FnCount)(void);
    HMODULE inpout = GetModuleHandleA(INPOUT_DLL);
    FnCount count = inpout != NULL ? (FnCount)GetProcAddress(inpout, "InpOutAccessCount") : NULL;
    unsigned long long n = count != NULL ? count() : 0;
    printf("  %llu port accesses through %s\n", n, INPOUT_DLL);
    check(n > 10000, "the measurements went through " INPOUT_DLL);
  }

  check(exit_() == RU3_OK, "ExitInstrument");
  check(find_receiver() == NULL, "the hidden window is gone after ExitInstrument");
  FreeLibrary(dll);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

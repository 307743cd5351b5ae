/* Loads libru3.so (the path in argv[1]), measures from the simulator, unloads
 * it and checks that it is gone from the process: no mapping of it left in
 * /proc/self/maps. Then does the same again, so a reload starts from a fresh
 * library. A library that exported a unique symbol, or that left a thread or
 * a thread-local destructor behind, would stay mapped. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef uint16_t (*InitFn)(uint32_t);
typedef uint16_t (*VoidFn)(void);
typedef uint16_t (*GetDataFn)(uint32_t, uint16_t*);

static int mapped(const char* name) {
  FILE* maps = fopen("/proc/self/maps", "r");
  char line[4096];
  int found = 0;
  if (maps == NULL) return -1;
  while (fgets(line, sizeof line, maps) != NULL) {
    if (strstr(line, name) != NULL) found = 1;
  }
  fclose(maps);
  return found;
}

/* dlsym's object pointer as a function pointer (POSIX guarantees that it
 * converts; ISO C has no cast for it). */
static void* symbol(void* lib, const char* name, void* function, size_t size) {
  void* address = dlsym(lib, name);
  if (address != NULL) memcpy(function, &address, size);
  return address;
}
#define SYMBOL(lib, name, function) symbol(lib, name, &(function), sizeof(function))

static int fail(int round, const char* what) {
  fprintf(stderr, "round %d: %s\n", round, what);
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
    return 2;
  }
  setenv("RU3_SIMULATOR", "ch1=dc,0.3", 1);
  for (int round = 1; round <= 2; ++round) {
    if (mapped("libru3.so") != 0) return fail(round, "libru3.so is mapped before dlopen");
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) return fail(round, dlerror());
    InitFn init;
    VoidFn start, force, ready, exit_instrument;
    GetDataFn get;
    if (!SYMBOL(lib, "InitInstrument", init) || !SYMBOL(lib, "ADC_Start", start) ||
        !SYMBOL(lib, "ADC_ForceTrig", force) || !SYMBOL(lib, "ADC_Ready", ready) ||
        !SYMBOL(lib, "ADC_GetDataCh", get) || !SYMBOL(lib, "ExitInstrument", exit_instrument))
      return fail(round, "missing export");
    if (init(0) != 0) return fail(round, "InitInstrument failed");
    if (start() != 0 || force() != 0) return fail(round, "ADC_Start / ADC_ForceTrig failed");
    while (ready() == 0) {
    }
    static uint16_t codes[32760];
    if (get(1, codes) != 0) return fail(round, "ADC_GetDataCh failed");
    if (exit_instrument() != 0) return fail(round, "ExitInstrument failed");
    if (dlclose(lib) != 0) return fail(round, dlerror());
    if (mapped("libru3.so") != 0) return fail(round, "libru3.so is still mapped after dlclose");
  }
  puts("libru3.so unloaded with dlclose and reloaded cleanly, twice");
  return 0;
}

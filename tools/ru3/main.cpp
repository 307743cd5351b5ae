// ru3: the RU3 oscilloscope at the command line. A host of the driver
// library like any other (it uses only ru3/ru3.h): show what instrument is
// there, capture to CSV and plot, watch in the terminal, drive the DAC and
// motor outputs, and decode a port trace.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <thread>

#include "acquisition.h"
#include "capture.h"
#include "capture_command.h"
#include "failure.h"
#include "format.h"
#include "ru3/ru3.h"
#include "serve/serve.h"
#include "session.h"
#include "system_ports.h"
#include "trace/trace.h"
#include "watch.h"

namespace ru3cli {
namespace {

// ---- info ------------------------------------------------------------------

std::string Join(const std::vector<double>& values, const char* unit) {
  std::string text;
  for (double v : values) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", v);
    text += (text.empty() ? "" : ", ") + std::string(buffer);
  }
  return text + " " + unit;
}

std::vector<double> NonZero(const std::array<double, 20>& list) {
  std::vector<double> values;
  for (double v : list) {
    if (v > 0) values.push_back(v);
  }
  return values;
}

int RunInfo(const GlobalOptions& global) {
  Session session(global, /*locate=*/true);
  std::int32_t serial = 0, date = 0;
  Check(GetSerialNumber(&serial), "reading the serial number");
  Check(GetCalibrationDate(&date), "reading the calibration date");
  std::uint16_t channels = 0;
  Check(GetNrChannels(&channels), "reading the number of channels");
  const double max_rate = GetMaxSampleFrequencyF();
  const long max_length = GetMaxRecordLength();
  std::array<double, 20> ranges{}, resolutions{};
  Check(GetAvailableSensitivities(ranges.data()), "reading the input ranges");
  Check(GetAvailableResolutions(resolutions.data()), "reading the resolutions");
  session.Close();

  const Location& where = session.location();
  std::string port = where.simulated ? "simulator" : "printer port";
  if (where.base) {
    char base[16];
    std::snprintf(base, sizeof base, "0x%03X", *where.base);
    port += where.port.empty() ? std::string(", base address ") + base : ", " + where.port + " at base address " + base;
  }
  char calibrated[32];
  std::snprintf(calibrated, sizeof calibrated, "%04d-%02d-%02d", date & 0xFFFF, (date >> 16) & 0xFF,
                (date >> 24) & 0xFF);
  std::printf("instrument         RU3, %s variant\n", max_rate > 200000 ? "400 kHz" : "200 kHz");
  std::printf("found on           %s\n", port.c_str());
  if (!where.simulated) {
    if (const std::string claim = ClaimText(where.port, session.registered()); !claim.empty()) {
      std::printf("claim              %s\n", claim.c_str());
    }
  }
  std::printf("serial number      %d\n", serial);
  std::printf("calibration date   %s\n", calibrated);
  std::printf("channels           %u\n", static_cast<unsigned>(channels));
  std::printf("max sample rate    %.0f Hz\n", max_rate);
  std::printf("max record length  %ld samples per channel\n", max_length);
  std::printf("input ranges       %s full scale\n", Join(NonZero(ranges), "V").c_str());
  std::printf("resolutions        %s\n", Join(NonZero(resolutions), "bits").c_str());
  return kExitOk;
}

// ---- watch -------------------------------------------------------------------

struct WatchCommandOptions {
  AcquisitionOptions acquisition;
  std::string interval = "200";
  std::string frames = "0";
};

int RunWatch(const GlobalOptions& global, const WatchCommandOptions& options) {
  const Acquisition acquisition = ParseAcquisition(options.acquisition);
  WatchOptions watch;
  const double interval = ParseNumber("--interval", options.interval);
  if (interval < 10 || interval > 60000)
    throw Failure("--interval " + options.interval + ": 10 to 60000 ms", kExitUsage);
  watch.interval_ms = std::lround(interval);
  const double frames = ParseNumber("--frames", options.frames);
  if (frames < 0 || frames != std::floor(frames)) {
    throw Failure("--frames " + options.frames + ": a whole number, 0 for no end", kExitUsage);
  }
  watch.frames = static_cast<long>(frames);
  InstallInterruptHandler();
  Session session(global);
  ApplyAcquisition(acquisition);
  Watch(acquisition, watch);
  session.Close();
  return kExitOk;
}

// ---- dac and motor -------------------------------------------------------------

// Closing the instrument sets the DAC to 0 V and the motors off, so the
// outputs hold only while the tool keeps the instrument open.
// What the outputs took goes to standard output (for scripts), how long
// they hold to standard error.
void Hold(const std::string& what, const std::string& seconds_text) {
  std::printf("%s\n", what.c_str());
  std::fflush(stdout);
  if (seconds_text.empty()) {
    std::fprintf(stderr, "holding until Ctrl-C (closing the instrument resets the outputs)\n");
  } else {
    std::fprintf(stderr, "holding for %s s\n", seconds_text.c_str());
  }
  const double seconds = seconds_text.empty() ? -1 : ParseNumber("--for", seconds_text);
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(std::max(seconds, 0.0));
  while (!Interrupted().load() && (seconds < 0 || std::chrono::steady_clock::now() < until)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void CheckHoldTime(const std::string& text) {
  if (text.empty()) return;
  const double seconds = ParseNumber("--for", text);
  if (seconds < 0) throw Failure("--for " + text + ": seconds, not negative", kExitUsage);
}

// The voltage a DAC output really takes: the 12-bit step of -10..+10 V
// nearest to the one asked for (20/4096 V, about 4.9 mV), +10 V itself being
// one step beyond the top code.
double DacVolts(double volts) {
  const double code = std::min(std::nearbyint((std::clamp(volts, -10.0, 10.0) + 10) / 20 * 4096), 4095.0);
  return code * 20 / 4096 - 10;
}

int RunDac(const GlobalOptions& global, const std::array<std::string, 2>& volts_text, const std::string& hold) {
  std::array<double, 2> volts{};
  for (std::size_t i = 0; i < 2; ++i) {
    volts[i] = ParseNumber("DAC output " + std::to_string(i + 1), volts_text[i]);
    if (volts[i] < -10 || volts[i] > 10) {
      throw Failure("DAC output " + std::to_string(i + 1) + " " + volts_text[i] + " V: the outputs span -10 to +10 V",
                    kExitUsage);
    }
  }
  CheckHoldTime(hold);
  InstallInterruptHandler();
  Session session(global, /*locate=*/false, /*measures=*/false);
  Check(SetDAC7394(volts[0], volts[1]), "setting the DAC outputs");
  std::string what = "DAC outputs at";
  for (std::size_t i = 0; i < 2; ++i) {
    const double real = DacVolts(volts[i]);
    what += (i ? " and " : " ") + Quantity(real, "V");
    if (std::fabs(real - volts[i]) > 1e-9) what += " (" + Quantity(volts[i], "V") + " asked)";
  }
  Hold(what, hold);
  return kExitOk;
}

bool OnOff(std::string text, int output) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (text == "on" || text == "1") return true;
  if (text == "off" || text == "0") return false;
  throw Failure("motor output " + std::to_string(output) + " \"" + text + "\": expected on or off", kExitUsage);
}

int RunMotor(const GlobalOptions& global, const std::array<std::string, 2>& states, const std::string& hold) {
  const bool first = OnOff(states[0], 1);
  const bool second = OnOff(states[1], 2);
  CheckHoldTime(hold);
  InstallInterruptHandler();
  Session session(global, /*locate=*/false, /*measures=*/false);
  Check(SetMotorOn(first ? 1 : 0, second ? 1 : 0), "switching the motor outputs");
  Hold(std::string("motor outputs ") + (first ? "on" : "off") + " and " + (second ? "on" : "off"), hold);
  return kExitOk;
}

// ---- trace -----------------------------------------------------------------------

int RunTrace(const std::string& file, bool registers, bool samples) {
  std::vector<trace::PortAccess> accesses;
  if (file == "-") {
    accesses = trace::Parse(std::cin, "standard input");
  } else {
    std::ifstream in(file);
    if (!in) throw Failure("cannot read " + file + ": " + std::strerror(errno), kExitUsage);
    accesses = trace::Parse(in, file);
  }
  trace::DecodeOptions options;
  options.samples = samples;
  trace::Print(std::cout, trace::Decode(accesses, options), registers);
  std::cout.flush();
  if (!std::cout) throw Failure("cannot write the decoded trace");
  return kExitOk;
}

// Each command's --help ends with its own exit statuses and examples.
constexpr const char* kInfoFooter = R"(
Exit status:
  0    the instrument was found (what and where it is on standard output)
  2    bad command line or RU3_SIMULATOR configuration
  3    no instrument found, or the --unit asked for does not answer (the message says why)

Examples:
  ru3 info
  ru3 --simulate=variant=0x11 info
)";

constexpr const char* kCaptureFooter = R"(
Exit status:
  0    captured and saved
  1    the instrument or a file refused
  2    bad command line or RU3_SIMULATOR configuration
  3    no instrument found, or the --unit asked for does not answer
  130  interrupted (no partial file is left)

Examples:
  ru3 capture --rate 50000 --length 2000 --range auto --trigger ch1 --level 0.5 -o scope.csv --plot scope.png
  ru3 capture --channels 1 --trigger none --count 10 --average -o mean.sr
  ru3 --simulate='ch1=sine,1,1000;noise=0.05' capture --range 2 -o - | head
)";

constexpr const char* kWatchFooter = R"(
Exit status:
  0    the --frames asked for were drawn
  1    the instrument refused
  2    bad command line or RU3_SIMULATOR configuration
  3    no instrument found, or the --unit asked for does not answer
  130  ended with Ctrl-C

Examples:
  ru3 watch
  ru3 watch --channels 1 --rate 20000 --length 1000 --interval 100
)";

constexpr const char* kOutputsFooter = R"(
The values taken are printed on standard output; closing the instrument
sets the DAC outputs to 0 V and the motors off.

Exit status:
  0    set, held, and closed (also when ended with Ctrl-C)
  1    the instrument refused
  2    bad command line or RU3_SIMULATOR configuration
  3    no instrument found

Examples:
  ru3 dac 2.5 -1 --for 10
  ru3 --unit 4 motor on off
)";

constexpr const char* kTraceFooter = R"(
Exit status:
  0    decoded
  1    the decoded trace could not be written
  2    the trace file cannot be read or is not a port trace

Examples:
  RU3_PORT_TRACE=init.trace ru3 --simulate info && ru3 trace init.trace
  ru3 trace --registers --samples capture.trace | less
)";

constexpr const char* kServeFooter = R"(
Exit status:
  0    stopped by Ctrl-C or a termination signal, the instrument closed
  1    a port is taken, or the instrument refused
  2    bad command line or RU3_SIMULATOR configuration
  3    no instrument found, or the --unit asked for does not answer

Examples:
  ru3 serve
  ru3 serve --listen 0.0.0.0:8080 --scpi 5025 --token-file ~/.ru3-token
)";

constexpr const char* kFooter = R"(
Each command has its own --help (ru3 capture --help).

Exit status:
  0    done
  1    the instrument or a file refused
  2    bad command line, input file or RU3_SIMULATOR configuration
  3    no instrument found (the message says why)
  130  interrupted (Ctrl-C ends watch this way; dac and motor end with 0)

Examples:
  ru3 --simulate info
  ru3 capture --rate 50000 --length 2000 --range auto --trigger ch1 --level 0.5 -o scope.csv --plot scope.png
  ru3 capture --channels 1 --trigger none --count 10 --average -o mean.sr
)";

int Main(int argc, char** argv) {
  CLI::App app{"ru3: the RU3 oscilloscope from the command line (info, capture, watch, dac, motor, trace, serve)",
               "ru3"};
  app.set_version_flag("--version", "ru3 1.0.0");
  app.require_subcommand(1);
  app.fallthrough();
  GlobalOptions global;
  std::string simulate;
  CLI::Option* simulate_flag =
      app.add_flag("--simulate{}", simulate,
                   "use the simulated instrument for this run; --simulate=CONFIG passes CONFIG as RU3_SIMULATOR");
  std::string unit_text;
  app.add_option("--unit", unit_text, "unit on the port, 1 to 4 (default: the library's)")->type_name("N");
  app.footer(kFooter);

  CLI::App* info = app.add_subcommand("info", "open the instrument and say what and where it is");

  CaptureOptions capture_options;
  CLI::App* capture = AddCaptureCommand(app, capture_options);

  WatchCommandOptions watch_options;
  CLI::App* watch = app.add_subcommand("watch", "measure continuously and draw it in the terminal until Ctrl-C");
  AddAcquisitionOptions(*watch, watch_options.acquisition);
  watch->add_option("--interval", watch_options.interval, "redraw every MS milliseconds, 10 to 60000")
      ->type_name("MS")
      ->capture_default_str();
  watch->add_option("--frames", watch_options.frames, "stop after N frames (0: at Ctrl-C)")
      ->type_name("N")
      ->capture_default_str();

  std::array<std::string, 2> dac_volts;
  std::string hold;
  CLI::App* dac = app.add_subcommand("dac", "set the two DAC outputs (volts, -10 to +10) and hold them");
  dac->add_option("CH1", dac_volts[0], "first output in volts (12-bit steps of 4.9 mV)")->type_name("V")->required();
  dac->add_option("CH2", dac_volts[1], "second output in volts")->type_name("V")->required();
  dac->add_option("--for", hold, "hold for SECONDS, then close (default: until Ctrl-C)")->type_name("SECONDS");

  std::array<std::string, 2> motor_states;
  CLI::App* motor = app.add_subcommand("motor", "switch the two motor outputs on or off and hold them");
  motor->add_option("FIRST", motor_states[0], "on or off (1 or 0)")->type_name("on|off")->required();
  motor->add_option("SECOND", motor_states[1], "on or off (1 or 0)")->type_name("on|off")->required();
  motor->add_option("--for", hold, "hold for SECONDS, then close (default: until Ctrl-C)")->type_name("SECONDS");

  std::string trace_file;
  bool registers = false, samples = false;
  CLI::App* trace_command = app.add_subcommand("trace", "decode a port trace written under RU3_PORT_TRACE");
  trace_command->add_option("FILE", trace_file, "the trace, - for standard input")->type_name("FILE")->required();
  trace_command->add_flag("--registers", registers, "also show every register write and read");
  trace_command->add_flag("--samples", samples, "also list every sample code read");

  ru3serve::ServeOptions serve_options;
  CLI::App* serve = ru3serve::AddServeCommand(app, serve_options);
  info->footer(kInfoFooter);
  capture->footer(kCaptureFooter);
  watch->footer(kWatchFooter);
  dac->footer(kOutputsFooter);
  motor->footer(kOutputsFooter);
  trace_command->footer(kTraceFooter);
  serve->footer(kServeFooter);

  // The first word that is no option (or an option's value) names the
  // command: say so plainly when it names none.
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--unit") {
      ++i;
      continue;
    }
    if (word.rfind('-', 0) == 0) continue;
    const auto known = app.get_subcommands([&](const CLI::App* command) { return command->check_name(word); });
    if (known.empty()) {
      throw Failure("unknown command \"" + word + "\" (commands: info, capture, watch, dac, motor, trace, serve)", kExitUsage);
    }
    break;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::fprintf(stderr, "ru3: %s (see ru3 --help)\n", e.what());
    return kExitUsage;
  }

  if (simulate_flag->count() > 0) global.simulate = simulate;
  if (!unit_text.empty()) {
    const double unit = ParseNumber("--unit", unit_text);
    if (unit != 1 && unit != 2 && unit != 3 && unit != 4) {
      throw Failure("--unit " + unit_text + ": units are numbered 1 to 4", kExitUsage);
    }
    global.unit = static_cast<int>(unit);
  }
  if (info->parsed()) return RunInfo(global);
  if (capture->parsed()) return RunCapture(global, capture_options);
  if (watch->parsed()) return RunWatch(global, watch_options);
  if (dac->parsed()) return RunDac(global, dac_volts, hold);
  if (motor->parsed()) return RunMotor(global, motor_states, hold);
  if (trace_command->parsed()) return RunTrace(trace_file, registers, samples);
  if (serve->parsed()) return ru3serve::RunServe(global, serve_options);
  return kExitUsage;
}

}  // namespace
}  // namespace ru3cli

int main(int argc, char** argv) {
  try {
    return ru3cli::Main(argc, argv);
  } catch (const ru3cli::Failure& failure) {
    std::fprintf(stderr, "ru3: %s\n", failure.what());
    return failure.exit_status();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ru3: %s\n", error.what());
    return ru3cli::kExitFailure;
  }
}

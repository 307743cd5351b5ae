#include "session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "failure.h"
#include "system_ports.h"
#include "ru3/ru3.h"
#include "trace/trace.h"

namespace ru3cli {

namespace {

std::string Hex4(unsigned value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%03X", value);
  return buffer;
}

std::string Trim(const std::string& text) {
  const auto a = text.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  const auto b = text.find_last_not_of(" \t");
  return text.substr(a, b - a + 1);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) parts.push_back(Trim(part));
  return parts;
}

// A temporary file for a port trace; removed when this goes.
class TemporaryTrace {
 public:
  TemporaryTrace() {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/ru3-trace.XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkstemp(buffer.data());
    if (fd >= 0) {
      ::close(fd);
      path_ = buffer.data();
    }
  }
  ~TemporaryTrace() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  // Hands the file over to the caller, who removes it.
  std::string Release() { return std::exchange(path_, std::string()); }
  TemporaryTrace(const TemporaryTrace&) = delete;
  TemporaryTrace& operator=(const TemporaryTrace&) = delete;
  const std::string& path() const { return path_; }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

// Sets RU3_PORT_TRACE for the next InitInstrument, and takes it away again.
class TraceEnvironment {
 public:
  explicit TraceEnvironment(const std::string& path) { ::setenv("RU3_PORT_TRACE", path.c_str(), 1); }
  ~TraceEnvironment() { ::unsetenv("RU3_PORT_TRACE"); }
  TraceEnvironment(const TraceEnvironment&) = delete;
  TraceEnvironment& operator=(const TraceEnvironment&) = delete;
};

bool UserTraces() {
  const char* value = std::getenv("RU3_PORT_TRACE");
  return value != nullptr && *value != '\0';
}

std::optional<trace::Decoded> DecodeFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  try {
    return trace::Decode(trace::Parse(in, path));
  } catch (const Failure&) {
    return std::nullopt;
  }
}

// The printer ports the simulator's configuration offers (LPT1..LPT3).
std::vector<unsigned> SimulatedPorts() {
  std::vector<unsigned> ports = {0x378, 0, 0};
  const char* config = std::getenv("RU3_SIMULATOR");
  if (config == nullptr) return ports;
  for (const std::string& item : Split(config, ';')) {
    const auto eq = item.find('=');
    if (eq == std::string::npos || Trim(item.substr(0, eq)) != "ports") continue;
    const std::vector<std::string> values = Split(item.substr(eq + 1), ',');
    for (std::size_t i = 0; i < 3; ++i) {
      ports[i] = i < values.size() ? static_cast<unsigned>(std::strtoul(values[i].c_str(), nullptr, 0)) : 0;
    }
  }
  return ports;
}

// Base address of Linux's parportN, 0 when there is none.
unsigned SystemPortBase(int n) {
  std::ifstream in("/proc/sys/dev/parport/parport" + std::to_string(n) + "/base-addr");
  unsigned base = 0;
  if (!(in >> base)) return 0;
  return base;
}

// InitInstrument with standard error caught in `notices`: the simulator
// reports a malformed RU3_SIMULATOR there, before the opening fails.
std::uint16_t InitCatchingNotices(std::string& notices) {
  std::fflush(stderr);
  std::FILE* caught = std::tmpfile();
  const int saved = caught != nullptr ? ::dup(STDERR_FILENO) : -1;
  if (saved < 0 || ::dup2(::fileno(caught), STDERR_FILENO) < 0) {
    if (saved >= 0) ::close(saved);
    if (caught != nullptr) std::fclose(caught);
    return InitInstrument(0);
  }
  const std::uint16_t status = InitInstrument(0);
  std::fflush(stderr);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  std::rewind(caught);
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, caught)) > 0) notices.append(buffer, n);
  std::fclose(caught);
  return status;
}

}  // namespace

void ApplySimulate(const GlobalOptions& options) {
  if (options.simulate) ::setenv("RU3_SIMULATOR", options.simulate->c_str(), 1);
}

std::string StatusText(std::uint16_t status) {
  const char* meaning = "unknown status";
  switch (status) {
    case RU3_OK:
      meaning = "ok";
      break;
    case RU3_NO_INSTRUMENT:
      meaning = "no instrument";
      break;
    case RU3_NOT_INITIALISED:
      meaning = "instrument not initialised";
      break;
    case RU3_NOT_AVAILABLE:
      meaning = "not available on this instrument";
      break;
    case RU3_NO_GENERATOR:
      meaning = "no generator";
      break;
    case RU3_BAD_CHANNEL:
      meaning = "bad channel";
      break;
    case RU3_BAD_VALUE:
      meaning = "bad value";
      break;
    default:
      break;
  }
  return std::to_string(status) + " (" + meaning + ")";
}

void Check(std::uint16_t status, const std::string& what) {
  if (status != RU3_OK) throw Failure(what + " failed: status " + StatusText(status));
}

std::string PortNameOf(std::uint16_t base, bool simulated) {
  for (int n = 0; n < 3; ++n) {
    const unsigned candidate = simulated ? SimulatedPorts()[static_cast<std::size_t>(n)] : SystemPortBase(n);
    if (candidate != 0 && candidate == base) return "LPT" + std::to_string(n + 1);
  }
  return {};
}

std::string NoInstrumentReason(const std::string& trace_path) {
  const bool simulated = std::getenv("RU3_SIMULATOR") != nullptr;
  if (!trace_path.empty()) {
    if (const auto decoded = DecodeFile(trace_path); decoded && !decoded->ports.empty()) {
      std::string text = "nothing answering: ";
      bool first = true;
      for (const trace::PortSummary& p : decoded->ports) {
        const std::string name = PortNameOf(p.base, simulated);
        text += first ? "" : "; ";
        text += "port " + Hex4(p.base) + (name.empty() ? "" : " (" + name + ")");
        if (p.signature) {
          char byte[8];
          std::snprintf(byte, sizeof byte, "%02X", *p.signature);
          text += std::string(": the EEPROM signature reads ") + byte + ", not AA";
        } else {
          text += ": no EEPROM signature read";
        }
        first = false;
      }
      return text + (simulated ? "" : ". Is the instrument connected and powered?");
    }
  }
  if (simulated) {
    return "the simulated PC offers no printer port with an instrument (RU3_SIMULATOR=\"" +
           std::string(std::getenv("RU3_SIMULATOR")) + "\")";
  }
  if (const std::string problem = SystemPortProblem(); !problem.empty()) return problem;
  return "nothing answering on the printer ports";
}

bool UnitAnswers() {
  // 500 samples at 10 kHz: the record is busy for 50 ms, far longer than the
  // first poll takes. A busy status missed once (the host paused) gets a
  // second try; a unit that is never busy fails both at once.
  std::uint8_t mode = RU3_MODE_CH12, source = RU3_TRIG_CH1;
  (void)GetMeasureMode(&mode);
  (void)GetTriggerSource(&source);
  double rate = GetSampleFrequencyF();
  const std::int32_t length = GetRecordLength();
  const std::int32_t post = GetPostSamples();
  double probe_rate = 10000;
  (void)SetMeasureMode(RU3_MODE_CH1);
  (void)SetTriggerSource(RU3_TRIG_NONE);
  (void)SetSampleFrequencyF(&probe_rate);
  (void)SetRecordLength(500);
  (void)SetPostSamples(500);
  bool answers = false;
  for (int attempt = 0; attempt < 2 && !answers; ++attempt) {
    if (ADC_Start() != RU3_OK) break;
    if (ADC_Ready() != 0) continue;  // never busy, or the record already over
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
    while (!answers && std::chrono::steady_clock::now() < until) {
      answers = ADC_Ready() != 0;
      if (!answers) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!answers) break;  // busy for ever: the status lines float
  }
  if (!answers) (void)ADC_Abort();
  (void)SetMeasureMode(mode);
  (void)SetTriggerSource(source);
  (void)SetSampleFrequencyF(&rate);
  (void)SetRecordLength(static_cast<std::uint32_t>(length));
  (void)SetPostSamples(static_cast<std::uint32_t>(post));
  return answers;
}

Session::Session(const GlobalOptions& options, bool locate, bool measures) {
  ApplySimulate(options);
  location_.simulated = std::getenv("RU3_SIMULATOR") != nullptr;
  std::optional<TemporaryTrace> own;
  std::optional<TraceEnvironment> environment;
  if (locate) {
    if (UserTraces()) {
      // Decode only what this run appends to the user's trace.
      trace_path_ = std::getenv("RU3_PORT_TRACE");
      struct stat info {};
      trace_offset_ = ::stat(trace_path_.c_str(), &info) == 0 ? static_cast<std::uintmax_t>(info.st_size) : 0;
    } else {
      own.emplace();
      if (own->ok()) {
        environment.emplace(own->path());
        trace_path_ = own->path();
      }
    }
  }
  std::string notices;
  const std::uint16_t status = location_.simulated ? InitCatchingNotices(notices) : InitInstrument(0);
  environment.reset();
  if (status != RU3_OK && notices.find("RU3_SIMULATOR") != std::string::npos) {
    // A malformed configuration is a usage error, said once.
    (void)ExitInstrument();
    throw Failure(notices.substr(0, notices.find('\n')), kExitUsage);
  }
  std::fputs(notices.c_str(), stderr);
  if (status != RU3_OK) {
    (void)ExitInstrument();
    std::string reason;
    if (own && own->ok()) {
      reason = NoInstrumentReason(own->path());
    } else if (!UserTraces()) {
      // Open once more with a trace, to see what answered.
      TemporaryTrace retry;
      if (retry.ok()) {
        TraceEnvironment traced(retry.path());
        (void)InitInstrument(0);
        (void)ExitInstrument();
      }
      reason = NoInstrumentReason(retry.ok() ? retry.path() : std::string());
    } else {
      reason = NoInstrumentReason(std::string());
    }
    throw Failure("no instrument found: " + reason, kExitNoInstrument);
  }
  open_ = true;
  // How the port is held shows in the kernel's devices while it is open.
  if (!location_.simulated) registered_ = RegisteredPortDevices();
  if (own) own_trace_ = own->Release();
  if (options.unit != 0) {
    Check(SetActiveRU3(static_cast<std::uint32_t>(options.unit)), "selecting unit " + std::to_string(options.unit));
    if (measures && !UnitAnswers()) {
      Close();
      throw Failure("unit " + std::to_string(options.unit) +
                        " does not answer: its status never changes when a record is armed on it (is a unit " +
                        std::to_string(options.unit) + " on this port? unit 1 answers)",
                    kExitNoInstrument);
    }
  }
}

Session::~Session() { Close(); }

void Session::Close() noexcept {
  if (open_) {
    (void)ExitInstrument();
    open_ = false;
    // The trace is complete now that the instrument is closed.
    if (!trace_path_.empty()) {
      try {
        std::ifstream in(trace_path_);
        in.seekg(static_cast<std::streamoff>(trace_offset_));
        const trace::Decoded decoded = trace::Decode(trace::Parse(in, trace_path_));
        location_.base = trace::AnsweringPort(decoded);
        if (location_.base) location_.port = PortNameOf(*location_.base, location_.simulated);
      } catch (...) {
        // Where the instrument was found is a nicety; without it the port stays unknown.
      }
    }
  }
  if (!own_trace_.empty()) {
    ::unlink(own_trace_.c_str());
    own_trace_.clear();
  }
}

}  // namespace ru3cli

// RU3_SIMULATOR's value: `key=value` pairs separated by ';'.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/simulator.h"

namespace ru3::sim {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())) != 0) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())) != 0) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  for (;;) {
    const auto at = s.find(sep);
    parts.push_back(Trim(s.substr(0, at)));
    if (at == std::string_view::npos) break;
    s.remove_prefix(at + 1);
  }
  return parts;
}

// Unsigned integer, decimal or 0x-prefixed hexadecimal, the whole text.
std::optional<std::uint64_t> ParseUnsigned(std::string_view s) {
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> ParseDecimal(std::string_view s) {
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

std::optional<double> ParseReal(std::string_view s) {
  double value = 0.0;
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

class Parser {
 public:
  explicit Parser(SimConfig* config) : config_(config) {}

  bool Parse(std::string_view text) {
    std::optional<double> noise;
    for (const std::string_view item : Split(text, ';')) {
      if (item.empty()) continue;
      const auto eq = item.find('=');
      if (eq == std::string_view::npos) {
        key_.clear();
        return Fail("expected key=value, got \"" + std::string(item) + "\"");
      }
      key_ = std::string(Trim(item.substr(0, eq)));
      value_ = Trim(item.substr(eq + 1));
      if (key_ == "noise") {
        noise = ParseReal(value_);
        if (!noise) return BadValue("not a number");
        if (*noise < 0.0) return BadValue("must not be negative");
      } else if (!Apply()) {
        return false;
      }
    }
    if (noise) {
      for (auto& input : config_->inputs) input.noise_rms = *noise;
    }
    const int port = config_->instrument_port;
    if (port >= 0 && config_->port_bases[static_cast<std::size_t>(port)] == 0) {
      key_ = "port";
      return Fail("LPT" + std::to_string(port + 1) + " has no base address (see 'ports')");
    }
    return true;
  }

  [[nodiscard]] const std::string& error() const { return error_; }

 private:
  bool Apply() {
    if (key_ == "ports") return Ports();
    if (key_ == "port") return Port();
    if (key_ == "variant") return Unsigned(0xFF, [this](std::uint64_t v) { config_->variant = static_cast<std::uint8_t>(v); });
    if (key_ == "serial") return Unsigned(0xFFFFFF, [this](std::uint64_t v) { config_->serial = static_cast<std::uint32_t>(v); });
    if (key_ == "caldate") return Date();
    if (key_ == "eeprom") return Choice("factory", "erased", &config_->erased_eeprom);
    if (key_ == "ch1" || key_ == "ch2") return Source(config_->inputs[key_ == "ch1" ? 0 : 1]);
    if (key_ == "driver") {
      bool missing = false;
      if (!Choice("present", "missing", &missing)) return false;
      config_->driver_present = !missing;
      return true;
    }
    if (key_ == "bus_ns") {
      return Unsigned(1'000'000'000, [this](std::uint64_t v) { config_->bus_ns = static_cast<std::uint32_t>(v); });
    }
    if (key_ == "units") {
      const auto v = ParseUnsigned(value_);
      if (!v || *v < 1 || *v > 4) return BadValue("expected 1 to 4 units on the port");
      config_->units = static_cast<int>(*v);
      return true;
    }
    if (key_ == "tick") {
      return Unsigned(0xFFFFFFFF, [this](std::uint64_t v) { config_->start_tick = static_cast<std::uint32_t>(v); });
    }
    const std::string key = key_;
    key_.clear();
    return Fail("unknown key '" + key + "'");
  }

  template <typename Store>
  bool Unsigned(std::uint64_t max, Store store) {
    const auto v = ParseUnsigned(value_);
    if (!v) return BadValue("not a number");
    if (*v > max) return BadValue("out of range (0.." + std::to_string(max) + ")");
    store(*v);
    return true;
  }

  bool Choice(const char* off, const char* on, bool* flag) {
    const std::string v = Lower(value_);
    if (v != off && v != on) return BadValue(std::string("expected ") + off + " or " + on);
    *flag = v == on;
    return true;
  }

  bool Ports() {
    const auto parts = Split(value_, ',');
    if (parts.size() > 3) return BadValue("at most three base addresses");
    std::array<std::uint16_t, 3> bases{};
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const auto v = ParseUnsigned(parts[i]);
      if (!v) return BadValue("not a number");
      if (*v > 0xFFFD) return BadValue("base address out of range (0..0xFFFD)");
      bases[i] = static_cast<std::uint16_t>(*v);
    }
    config_->port_bases = bases;
    return true;
  }

  bool Port() {
    const std::string v = Lower(value_);
    if (v == "none") {
      config_->instrument_port = -1;
    } else if (v.size() == 4 && v.compare(0, 3, "lpt") == 0 && v[3] >= '1' && v[3] <= '3') {
      config_->instrument_port = v[3] - '1';
    } else {
      return BadValue("expected LPT1, LPT2, LPT3 or none");
    }
    return true;
  }

  bool Date() {
    // YYYY-MM-DDTHH:MM
    const std::string_view v = value_;
    const auto t = v.find_first_of("Tt ");
    if (t == std::string_view::npos) return BadValue("expected YYYY-MM-DDTHH:MM");
    const auto date = Split(v.substr(0, t), '-');
    const auto time = Split(v.substr(t + 1), ':');
    if (date.size() != 3 || time.size() != 2) return BadValue("expected YYYY-MM-DDTHH:MM");
    std::array<int, 5> f{};
    const std::array<std::string_view, 5> texts = {date[0], date[1], date[2], time[0], time[1]};
    for (std::size_t i = 0; i < f.size(); ++i) {
      const auto n = ParseDecimal(texts[i]);
      if (!n || texts[i].size() > 4) {
        return BadValue("expected YYYY-MM-DDTHH:MM");
      }
      f[i] = static_cast<int>(*n);
    }
    if (f[0] < 1 || f[0] > 9999 || f[1] < 1 || f[1] > 12 || f[2] < 1 || f[2] > 31 || f[3] > 23 || f[4] > 59) {
      return BadValue("date or time field out of range");
    }
    config_->calibration_date = CalibrationDate{f[0], f[1], f[2], f[3], f[4]};
    return true;
  }

  bool Source(SignalSource& source) {
    const auto parts = Split(value_, ',');
    if (parts.size() < 2 || parts.size() > 4) return BadValue("expected shape,amplitude,frequency[,offset]");
    static constexpr std::array<std::pair<const char*, Shape>, 6> kShapes = {{{"sine", Shape::kSine},
                                                                              {"square", Shape::kSquare},
                                                                              {"triangle", Shape::kTriangle},
                                                                              {"sawtooth", Shape::kSawtooth},
                                                                              {"dc", Shape::kDc},
                                                                              {"noise", Shape::kNoise}}};
    const std::string shape = Lower(parts[0]);
    const auto found = std::find_if(kShapes.begin(), kShapes.end(), [&](const auto& s) { return shape == s.first; });
    if (found == kShapes.end()) {
      return BadValue("shape must be sine, square, triangle, sawtooth, dc or noise");
    }
    SignalSource s = source;
    s.shape = found->second;
    const std::array<const char*, 3> names = {"amplitude", "frequency", "offset"};
    std::array<double*, 3> fields = {&s.amplitude, &s.frequency, &s.offset};
    for (std::size_t i = 1; i < parts.size(); ++i) {
      const auto v = ParseReal(parts[i]);
      if (!v) return BadValue(std::string(names[i - 1]) + " is not a number");
      *fields[i - 1] = *v;
    }
    if (s.frequency < 0.0) return BadValue("frequency must not be negative");
    source = s;
    return true;
  }

  bool BadValue(const std::string& what) { return Fail(what + ": \"" + std::string(value_) + "\""); }

  bool Fail(const std::string& what) {
    error_ = key_.empty() ? "RU3_SIMULATOR: " + what : "RU3_SIMULATOR: key '" + key_ + "': " + what;
    return false;
  }

  SimConfig* config_;
  std::string key_;
  std::string_view value_;
  std::string error_;
};

}  // namespace

bool ParseSimConfig(const std::string& text, SimConfig* config, std::string* error) {
  SimConfig parsed;
  Parser parser(&parsed);
  if (!parser.Parse(text)) {
    if (error != nullptr) *error = parser.error();
    return false;
  }
  *config = parsed;
  return true;
}

}  // namespace ru3::sim

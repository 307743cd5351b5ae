// The SCPI parser: splits a program message into units, matches each header
// against the command tree (short or long form, any case, numeric
// suffixes), parses the parameters and runs the handler. Anything malformed
// adds an error to the session's queue and ends the message; it never ends
// the connection.
#include "scpi.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "scpi_tree.h"

namespace ru3serve {
namespace {

constexpr std::size_t kMostErrors = 16;

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Splits at `separator` outside quoted strings; false for an unterminated string.
bool Split(std::string_view text, char separator, std::vector<std::string_view>& parts) {
  char quote = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == separator) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(text.substr(start));
  return quote == 0;
}

// Does one node of the input ("chan2") match a pattern node ("CHANnel#")?
bool MatchNode(std::string_view pattern, std::string_view node, int& suffix) {
  const bool numbered = !pattern.empty() && pattern.back() == '#';
  if (numbered) pattern.remove_suffix(1);
  std::size_t digits = node.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(node[digits - 1]))) --digits;
  const std::string_view word = node.substr(0, digits);
  const std::string_view number = node.substr(digits);
  std::string short_form;
  for (char c : pattern) {
    if (std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) || c == '*') {
      short_form += c;
    }
  }
  const std::string upper = Upper(word);
  if (upper != short_form && upper != Upper(pattern)) return false;
  suffix = 1;
  if (!number.empty()) {
    if (!numbered || number.size() > 3) return false;
    suffix = std::atoi(std::string(number).c_str());
  }
  return true;
}

bool ParseParam(std::string_view text, Param& param) {
  text = Trim(text);
  if (text.empty()) return false;
  if (text.front() == '"' || text.front() == '\'') {
    if (text.size() < 2 || text.back() != text.front()) return false;
    param.quoted = true;
    param.text = std::string(text.substr(1, text.size() - 2));
    return true;
  }
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '+' && c != '_') return false;
  }
  param.text = std::string(text);
  const std::string copy(text);
  char* end = nullptr;
  const double number = std::strtod(copy.c_str(), &end);
  const char lead = copy[0];
  if (end == copy.c_str() ||
      (!std::isdigit(static_cast<unsigned char>(lead)) && lead != '-' && lead != '+' && lead != '.')) {
    return true;  // a word
  }
  // A unit suffix scales the number; whether it fits the command is checked
  // against the command (MS is milli for seconds, MHZ mega for frequencies).
  static const std::pair<const char*, double> kUnits[] = {
      {"", 1},     {"V", 1},     {"MV", 1e-3}, {"UV", 1e-6}, {"HZ", 1},    {"KHZ", 1e3},
      {"MHZ", 1e6}, {"S", 1},    {"MS", 1e-3}, {"US", 1e-6}, {"NS", 1e-9}, {"PCT", 0.01}};
  const std::string unit = Upper(end);
  for (const auto& [name, scale] : kUnits) {
    if (unit == name && std::isfinite(number)) {
      param.numeric = true;
      param.number = number * scale;
      param.unit = unit;
      return true;
    }
  }
  return false;
}

// A unit whose header ends in '?'.
bool IsQuery(std::string_view unit) {
  std::size_t end = 0;
  while (end < unit.size() && unit[end] != ' ' && unit[end] != '\t') ++end;
  return end > 0 && unit[end - 1] == '?';
}

// Units of each quantity; a plain number fits any.
bool UnitFits(Quantity quantity, const std::string& unit) {
  switch (quantity) {
    case Quantity::kVolts: return unit == "V" || unit == "MV" || unit == "UV";
    case Quantity::kHertz: return unit == "HZ" || unit == "KHZ" || unit == "MHZ";
    case Quantity::kSeconds: return unit == "S" || unit == "MS" || unit == "US" || unit == "NS";
    case Quantity::kShare: return unit == "PCT";
    case Quantity::kNone: break;
  }
  return false;
}

}  // namespace

const char* ErrorText(int code) {
  switch (code) {
    case 0: return "No error";
    case -100: return "Command error";
    case -101: return "Invalid character";
    case -102: return "Syntax error";
    case -103: return "Invalid separator";
    case -104: return "Data type error";
    case -108: return "Parameter not allowed";
    case -109: return "Missing parameter";
    case -113: return "Undefined header";
    case -114: return "Header suffix out of range";
    case -131: return "Invalid suffix";
    case -138: return "Suffix not allowed";
    case -151: return "Invalid string data";
    case -200: return "Execution error";
    case -203: return "Command protected";
    case -221: return "Settings conflict";
    case -222: return "Data out of range";
    case -224: return "Illegal parameter value";
    case -230: return "Data corrupt or stale";
    case -350: return "Queue overflow";
    case -363: return "Input buffer overrun";
    case -410: return "Query INTERRUPTED";
    default: return "Error";
  }
}

ScpiSession::ScpiSession(Engine& engine, std::string token_value)
    : authorised(token_value.empty()), token(std::move(token_value)), engine_(engine) {}

void ScpiSession::Push(int code, const std::string& detail) {
  if (code <= -100 && code > -200) esr |= 0x20;       // command error
  else if (code <= -200 && code > -300) esr |= 0x10;  // execution error
  else if (code <= -300 && code > -400) esr |= 0x08;  // device-dependent error
  else if (code <= -400) esr |= 0x04;                 // query error
  std::string text = ErrorText(code);
  if (!detail.empty()) text += "; " + detail;
  // Printable ASCII only, and no quote inside the quoted message.
  for (char& c : text) {
    if (c == '"' || static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '\'';
  }
  if (text.size() > 200) text.resize(200);
  ++pushed_;
  if (errors.size() >= kMostErrors) {
    errors.back() = {-350, ErrorText(-350)};
    return;
  }
  errors.emplace_back(code, text);
}

void ScpiSession::Overrun() { Push(-363, "line too long, dropped"); }

std::string ScpiSession::ErrorReply() const {
  if (errors.empty()) return "-100,\"" + std::string(ErrorText(-100)) + "\"";
  return std::to_string(errors.back().first) + ",\"" + errors.back().second + "\"";
}

void ScpiSession::Answer(const std::string& text, bool& first) {
  sent_ = (first || (*send_)(";")) && (*send_)(text);
  first = false;
}

bool ScpiSession::Execute(std::string_view line, const Send& send) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  send_ = &send;
  sent_ = true;
  bool first = true;
  // A line refused whole still answers, when it asks, with the error.
  bool refused = false;
  auto refuse = [&](int code, const char* detail) {
    refused = true;
    Push(code, detail);
    if (line.find('?') != std::string_view::npos) Answer(ErrorReply(), first);
  };
  for (char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte > 0x7E) {
      refuse(-101, "non-printable byte in the line");
      break;
    }
  }
  std::vector<std::string_view> units;
  if (!refused && !Split(line, ';', units)) refuse(-151, "unterminated string");
  std::vector<std::string> path;  // the header path the next relative unit starts from
  for (std::size_t i = 0; !refused && sent_ && i < units.size(); ++i) {
    const std::string_view unit = Trim(units[i]);
    if (unit.empty()) continue;
    if (!Unit(unit, path, first)) {
      // The rest of the line is left undone; when it or the failed unit
      // asks, the error is its answer, so no client waits in vain.
      bool asks = false;
      for (std::size_t j = i; j < units.size(); ++j) asks = asks || IsQuery(Trim(units[j]));
      if (asks && sent_) Answer(ErrorReply(), first);
      break;
    }
    if (!sent_) break;
  }
  if (!first && sent_) sent_ = send("\n");
  return sent_;
}

bool ScpiSession::Unit(std::string_view unit, std::vector<std::string>& path, bool& first) {
  std::size_t space = 0;
  while (space < unit.size() && unit[space] != ' ' && unit[space] != '\t') ++space;
  std::string_view header = unit.substr(0, space);
  const std::string_view rest = Trim(unit.substr(space));
  ScpiCall call;
  if (!header.empty() && header.back() == '?') {
    call.query = true;
    header.remove_suffix(1);
  }
  if (header.empty()) {
    Push(-102, "no header");
    return false;
  }
  for (char c : header) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != ':' && c != '*' && c != '_') {
      Push(-102, "header " + std::string(header));
      return false;
    }
  }
  // Nodes of the header: a leading ':' starts from the root, a common
  // command (*...) leaves the path alone, anything else continues the path
  // of the unit before it.
  std::vector<std::string> nodes;
  const bool common = !header.empty() && header.front() == '*';
  if (!common && !header.empty() && header.front() != ':') nodes = path;
  std::vector<std::string_view> parts;
  Split(header.front() == ':' ? header.substr(1) : header, ':', parts);
  for (std::string_view part : parts) {
    if (part.empty()) {
      Push(-102, "empty header node in " + std::string(header));
      return false;
    }
    nodes.emplace_back(part);
  }
  const ScpiCommand* found = nullptr;
  for (const ScpiCommand& command : ScpiCommands()) {
    std::vector<std::string_view> pattern;
    Split(command.pattern, ':', pattern);
    if (pattern.size() != nodes.size()) continue;
    std::vector<int> suffix;
    bool match = true;
    for (std::size_t i = 0; i < nodes.size() && match; ++i) {
      int n = 1;
      match = MatchNode(pattern[i], nodes[i], n);
      if (pattern[i].back() == '#') suffix.push_back(n);
    }
    if (match) {
      found = &command;
      call.suffix = std::move(suffix);
      break;
    }
  }
  if (!found) {
    Push(-113, std::string(header));
    return false;
  }
  if (!common) path.assign(nodes.begin(), nodes.end() - 1);
  if (!authorised && std::string(found->pattern) != "SYSTem:TOKen") {
    Push(-203, "send :SYSTem:TOKen \"...\" first");
    return false;
  }
  if (!rest.empty()) {
    std::vector<std::string_view> texts;
    Split(rest, ',', texts);
    for (std::string_view text : texts) {
      Param param;
      if (!ParseParam(text, param)) {
        Push(-104, "parameter " + std::string(Trim(text)).substr(0, 40));
        return false;
      }
      if (!param.unit.empty() && !UnitFits(found->unit, param.unit)) {
        Push(found->unit == Quantity::kNone ? -138 : -131, param.unit + " with " + std::string(header));
        return false;
      }
      call.params.push_back(std::move(param));
    }
  }
  if (call.query ? !found->queryable : !found->settable) {
    Push(-113, std::string(header) + (call.query ? " has no query form" : " is a query only"));
    return false;
  }
  const int count = static_cast<int>(call.params.size());
  if (!call.query && count < found->params_min) {
    Push(-109, std::string(header));
    return false;
  }
  if (count > found->params_max) {
    Push(-108, std::string(header));
    return false;
  }
  const std::uint64_t pushed = pushed_;
  std::string answer = found->handler(*this, call);
  // A query that failed answers with its error, never with an empty line.
  if (call.query && answer.empty() && pushed_ != pushed) answer = ErrorReply();
  if (call.query) Answer(answer, first);
  return true;
}

}  // namespace ru3serve

#include "csv.h"

#include <charconv>
#include <cmath>

#include "failure.h"
#include "format.h"
#include "summary.h"

namespace ru3cli {

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string ExactNumber(double value) {
  if (value == 0) return "0";  // also for -0.0
  if (std::isnan(value)) return "";
  char buffer[400];
  // Plain decimals where they stay short, which every spreadsheet reads;
  // exponent notation otherwise. Either way the shortest text that reads
  // back as the same double.
  const double magnitude = std::fabs(value);
  const auto format = magnitude >= 1e-9 && magnitude < 1e15 ? std::chars_format::fixed : std::chars_format::general;
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format);
  return std::string(buffer, result.ptr);
}

void WriteCsv(std::FILE* out, const Record& record, const std::string& name) {
  std::string time = "time (s; " + Decimal(record.sample_rate) + " Hz";
  if (record.trigger.channel != 0) time += record.trigger.forced ? "; trigger at 0, forced" : "; trigger at 0";
  std::string header = CsvField(time + ")");
  for (const Channel& ch : record.channels) {
    header += "," + CsvField("CH" + std::to_string(ch.number) + " (V; range " + Decimal(ch.range) + " V" +
                             (record.averaged > 1 ? "; mean of " + std::to_string(record.averaged) : "") +
                             (ch.clipped > 0 ? "; " + ClippedMark(ch) : "") + ")");
  }
  header += '\n';
  bool ok = std::fputs(header.c_str(), out) >= 0;
  std::string line;
  for (std::size_t i = 0; ok && i < record.length(); ++i) {
    line = ExactNumber(record.TimeOf(i));
    for (const Channel& ch : record.channels) {
      line += ',';
      line += ExactNumber(ch.volts[i]);
    }
    line += '\n';
    ok = std::fputs(line.c_str(), out) >= 0;
  }
  if (!ok || std::fflush(out) != 0) throw Failure("cannot write " + name, kExitFailure);
}

}  // namespace ru3cli

// The SCPI face of `ru3 serve`: one session per connection, with its own
// error queue, status registers and waveform choices, over the shared
// Engine. Execute takes one program message (a line without its terminator)
// and hands each query's answer to `send` as soon as it is made (separators
// and the final line feed included), so no reply is held whole. The parser follows IEEE 488.2
// and SCPI: units separated by ';', headers in short or long form in any
// case, numeric suffixes, relative headers after the first unit of a line.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine.h"

namespace ru3serve {

// What a command's numbers measure: the unit suffixes it takes.
enum class Quantity { kNone, kVolts, kHertz, kSeconds, kShare };

// One parameter as typed: a number (with an optional unit suffix), a word,
// or a quoted string.
struct Param {
  std::string text;  // the word or the string's content
  bool quoted = false;
  bool numeric = false;
  double number = 0;
  std::string unit;  // the suffix of a number, in capitals ("MV"); empty when none
};

class ScpiSession {
 public:
  // With a non-empty token, every command but :SYSTem:TOKen is refused
  // (-203) until the token has been given.
  ScpiSession(Engine& engine, std::string token);

  // Returns false when `send` did (the client has gone); the rest of the
  // line is then left undone.
  using Send = std::function<bool(std::string_view)>;
  bool Execute(std::string_view line, const Send& send);
  // The line was longer than the server reads: it is dropped whole.
  void Overrun();

  // Used by the command table.
  void Push(int code, const std::string& detail = "");
  Engine& engine() { return engine_; }

  // Waveform transfer choices.
  int source = 1;            // channel
  std::string format = "WORD";  // BYTE, WORD or ASC
  bool big_endian = true;
  std::size_t first = 1, last = 0;  // :WAVeform:STARt and :STOP, 1-based; last 0: the record's end
  int average_count = 8;            // :ACQuire:COUNt while the type is NORMal
  std::uint64_t ter_seq = 0;        // the newest record :TER? has reported
  std::uint8_t ese = 0, sre = 0, esr = 0;
  bool authorised = false;
  std::string token;
  std::uint64_t generation = 0;  // of this session's last change
  std::deque<std::pair<int, std::string>> errors;

 private:
  bool Unit(std::string_view unit, std::vector<std::string>& path, bool& first);
  // The newest error as :SYSTem:ERRor? gives it: the answer of a failed query.
  std::string ErrorReply() const;
  void Answer(const std::string& text, bool& first);

  const Send* send_ = nullptr;  // of the line being executed
  bool sent_ = true;
  std::uint64_t pushed_ = 0;  // errors pushed so far

  Engine& engine_;
};

// The standard text of an SCPI error number.
const char* ErrorText(int code);

}  // namespace ru3serve

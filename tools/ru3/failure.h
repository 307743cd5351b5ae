// How the tool's commands report a failure: one clear message for standard
// error and the exit status that goes with it.
#pragma once

#include <stdexcept>
#include <string>

namespace ru3cli {

// Exit statuses of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;       // the instrument or the file system said no
inline constexpr int kExitUsage = 2;         // bad command line or bad input file
inline constexpr int kExitNoInstrument = 3;  // no instrument found

class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& message, int exit_status = kExitFailure)
      : std::runtime_error(message), exit_status_(exit_status) {}
  int exit_status() const { return exit_status_; }

 private:
  int exit_status_;
};

}  // namespace ru3cli

// A progress line on standard error for measurements and read-outs that take
// a while: the current phase and its elapsed time, redrawn in place. Shown
// only on a terminal (or when forced), and only once a phase has lasted long
// enough to be worth it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace ru3cli {

class Progress {
 public:
  explicit Progress(bool enabled);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Starts a new phase, e.g. "capture 2 of 5: waiting for the trigger".
  void Phase(const std::string& text);
  // Put before every phase from now on, e.g. "capture 2 of 5: ".
  void Prefix(const std::string& text);
  // Clears the line; the next Phase starts a new one.
  void Clear();

 private:
  void Run();
  void Draw(bool clear);

  bool enabled_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool shown_ = false;
  std::string prefix_;
  std::string phase_;
  std::chrono::steady_clock::time_point started_;
  std::thread thread_;
};

}  // namespace ru3cli

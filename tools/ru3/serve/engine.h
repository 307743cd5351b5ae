// The one owner of the instrument while `ru3 serve` runs: a thread that
// measures block style in a loop (arm, poll, force after the time-out, read)
// and publishes each record as an immutable Frame. The page and the SCPI
// sessions never call the library themselves: they hand changes to this
// thread, which applies them between polls, so no request holds the
// measuring loop for longer than one library call.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "../capture.h"
#include "../record.h"
#include "../session.h"
#include "measure.h"

namespace ru3serve {

// A refused change, with the SCPI error number that says why.
struct Error {
  int code = 0;  // 0: none; otherwise a negative SCPI error number
  std::string message;
  explicit operator bool() const { return code != 0; }
};

// The shortest record, samples: the tool's.
constexpr long kShortestRecord = 1;

// The acquisition as the instrument holds it, read back after every change.
// Volts (ranges, trigger level and hysteresis) are at the probe tip: the
// instrument's times the channel's probe factor.
struct Settings {
  std::array<bool, 2> on{true, true};
  std::array<double, 2> range{8, 8};  // volts full scale
  std::array<bool, 2> autorange{false, false};
  std::array<int, 2> coupling{RU3_COUPLING_DC, RU3_COUPLING_DC};
  std::array<double, 2> probe{1, 1};  // attenuation factor of each channel's probe
  double rate = 0;                    // Hz, as the clock runs
  long length = 0;                    // samples per channel
  double pre = 0.5;                   // share of the record before the trigger
  int source = RU3_TRIG_CH1;          // RU3_TRIG_CH1, RU3_TRIG_CH2 or RU3_TRIG_NONE
  double level = 0;                   // volts on the trigger channel
  double hysteresis = 0;              // volts
  int kind = RU3_KIND_RISING;         // a RU3_KIND_ code
  long timeout_ms = 0;                // -1: wait for ever
  int averages = 1;                   // records averaged into each published one; 1: none
  std::array<double, 2> dac{0, 0};    // volts
  std::array<bool, 2> motor{false, false};
  std::string state = "run";  // "run", "stop" or "single"
};

// One published record: raw codes and the library's volts per measured
// channel, with the settings it was measured at.
struct Frame {
  struct Trace {
    int number = 1;
    double range = 0;
    std::vector<std::uint16_t> codes;  // RU3_NO_SAMPLE: no sample at that position
    std::vector<double> volts;         // NaN: no sample
    bool clipped = false;              // a sample at either end of the range
    ru3cli::ChannelSummary summary;
    Figures figures;
  };
  std::uint64_t seq = 0;
  std::uint64_t generation = 0;  // of the settings it was armed with
  bool forced = false;           // the trigger was forced after the time-out
  int averaged = 1;              // records averaged into this one
  double rate = 0;
  long pre_samples = 0;
  Settings settings;
  std::vector<Trace> traces;

  const Trace* TraceOf(int channel) const;
  ru3cli::Record ToRecord() const;  // for the tool's CSV and plot writers
};

// A value handed to Apply: a number or a word ("auto", "ch1", "on", ...).
using Value = std::variant<double, std::string>;

class Engine {
 public:
  // Opens the instrument on the calling thread (throws ru3cli::Failure when
  // there is none) and starts the measuring thread.
  // `full_pretrigger`: every record's pre-trigger part sampled before the
  // trigger may fire (the library's hold-off).
  explicit Engine(const ru3cli::GlobalOptions& options, bool full_pretrigger = true);
  ~Engine();  // Stop(), then closes the instrument
  // Ends the measuring thread and wakes everyone waiting for a record or a
  // change, so the faces can stop at once. Apply refuses from then on.
  void Stop();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Applies one named setting (the keys are listed in engine.cpp) on the
  // measuring thread; returns when it is done. Every successful change
  // starts a fresh record.
  Error Apply(const std::string& key, const Value& value);
  // Back to the settings the server started with, and running.
  void Reset();

  Settings Current() const;
  std::uint64_t Generation() const;
  std::shared_ptr<const Frame> Latest() const;
  std::shared_ptr<const Frame> Find(std::uint64_t seq) const;  // one of the last few
  // Waits up to `timeout` for a frame newer than `after_seq` (and armed at
  // least at `generation`); returns the latest either way.
  std::shared_ptr<const Frame> WaitFrame(std::uint64_t after_seq, std::uint64_t generation,
                                         std::chrono::milliseconds timeout) const;
  // Waits until a single record asked for has been taken (or the state is no
  // longer "single"); false after `timeout`.
  bool WaitIdle(std::chrono::milliseconds timeout) const;
  double FrameRate() const;  // records a second over the last few seconds
  std::vector<double> Ranges() const { return ranges_; }
  double MaxRate() const { return max_rate_; }
  long MaxLength() const { return max_length_; }
  std::int32_t Serial() const { return serial_; }

 private:
  void Loop();
  void Call(std::function<void()> work);
  Error ApplyHere(const std::string& key, const Value& value);
  void ReadBack();
  bool Publish(bool forced);
  void Arm();

  std::vector<double> ranges_;
  double max_rate_ = 0;
  long max_length_ = 0;
  std::int32_t serial_ = 0;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<std::function<void()>> work_;
  bool quit_ = false;
  Settings settings_;
  Settings initial_;
  std::uint64_t generation_ = 1;
  std::uint64_t next_seq_ = 1;
  std::deque<std::shared_ptr<const Frame>> frames_;  // newest last
  std::deque<std::chrono::steady_clock::time_point> frame_times_;

  // Only the measuring thread touches these.
  bool armed_ = false;
  ru3cli::TriggerForcing forcing_;
  std::uint64_t armed_generation_ = 0;

  // The records taken so far towards the next averaged one: sums per
  // position of the samples (a position without a sample adds nothing).
  struct Averaging {
    int taken = 0;
    std::uint64_t generation = 0;
    bool forced = false;
    std::vector<std::vector<double>> volts, codes;
    std::vector<std::vector<int>> counts;
    std::vector<bool> clipped;
    void Restart() { taken = 0; }
    // Folds `frame` in; once `n` records are in, makes `frame` their mean
    // and returns true.
    bool Add(Frame& frame, int n);
  };
  Averaging averaging_;

  std::unique_ptr<ru3cli::Session> session_;
  std::thread thread_;
};


}  // namespace ru3serve

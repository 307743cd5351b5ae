// The measuring thread of `ru3 serve`: arms, polls, forces the trigger after
// the time-out, and turns each finished measurement into a published Frame
// (probe factor, averaging, summary and pulse figures): the record is made
// here and nowhere else. The settings it applies are in engine_settings.cpp.
#include "engine.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <future>

#include "../capture.h"
#include "../failure.h"
#include "../progress.h"
#include "ru3/ru3.h"

namespace ru3serve {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kFramesKept = 8;

}  // namespace

const Frame::Trace* Frame::TraceOf(int channel) const {
  for (const Trace& trace : traces) {
    if (trace.number == channel) return &trace;
  }
  return nullptr;
}

ru3cli::Record Frame::ToRecord() const {
  ru3cli::Record record;
  record.sample_rate = rate;
  record.pre_samples = pre_samples;
  record.averaged = averaged;
  record.trigger.forced = forced;
  for (const Trace& trace : traces) record.channels.push_back({trace.number, trace.range, trace.volts});
  record.trigger.channel = ru3cli::TriggerChannelOf(settings.source);
  record.trigger.source = record.trigger.channel == 0 ? "none" : "CH" + std::to_string(record.trigger.channel);
  record.trigger.level = settings.level;
  record.trigger.hysteresis = settings.hysteresis;
  record.trigger.kind = settings.kind;
  return record;
}

Engine::Engine(const ru3cli::GlobalOptions& options, bool full_pretrigger) {
  session_ = std::make_unique<ru3cli::Session>(options);
  ru3cli::Check(Ext_SetFullPreTrigger(full_pretrigger ? 1 : 0), "switching full pre-trigger");
  ranges_ = ru3cli::AvailableRanges();
  max_rate_ = GetMaxSampleFrequencyF();
  max_length_ = GetMaxRecordLength();
  ru3cli::Check(GetSerialNumber(&serial_), "reading the serial number");
  ru3cli::Check(SetMeasureMode(RU3_MODE_CH12), "setting the channels");
  ReadBack();
  // Start on ranges that fit the signals, so that the trigger fires.
  (void)ApplyHere("autoscale", 1.0);
  initial_ = settings_;
  thread_ = std::thread([this] { Loop(); });
}

Engine::~Engine() {
  Stop();
  session_->Close();
}

void Engine::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  if (!thread_.joinable()) return;
  thread_.join();
  (void)ADC_Abort();
}

void Engine::Call(std::function<void()> work) {
  std::packaged_task<void()> task(std::move(work));
  std::future<void> done = task.get_future();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_) return;
    work_.emplace_back([&task] { task(); });
  }
  changed_.notify_all();
  done.get();
}

Error Engine::Apply(const std::string& key, const Value& value) {
  Error error{-200, "the server is stopping"};
  Call([&] { error = ApplyHere(key, value); });
  return error;
}

Settings Engine::Current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

std::uint64_t Engine::Generation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation_;
}

std::shared_ptr<const Frame> Engine::Latest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_.empty() ? nullptr : frames_.back();
}

std::shared_ptr<const Frame> Engine::Find(std::uint64_t seq) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& frame : frames_) {
    if (frame->seq == seq) return frame;
  }
  return nullptr;
}

std::shared_ptr<const Frame> Engine::WaitFrame(std::uint64_t after_seq, std::uint64_t generation,
                                               std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout, [&] {
    return quit_ || (!frames_.empty() && frames_.back()->seq > after_seq && frames_.back()->generation >= generation);
  });
  return frames_.empty() ? nullptr : frames_.back();
}

bool Engine::WaitIdle(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return quit_ || settings_.state != "single"; });
}

double Engine::FrameRate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (frame_times_.size() < 2) return 0;
  const double span = std::chrono::duration<double>(frame_times_.back() - frame_times_.front()).count();
  return span > 0 ? static_cast<double>(frame_times_.size() - 1) / span : 0;
}

void Engine::Arm() {
  const std::uint16_t status = ADC_Start();
  armed_ = status == RU3_OK;
  forcing_.Arm(Clock::now());
  std::lock_guard<std::mutex> lock(mutex_);
  armed_generation_ = generation_;
}

bool Engine::Averaging::Add(Frame& frame, int n) {
  if (taken > 0 && (generation != frame.generation || volts.size() != frame.traces.size())) taken = 0;
  if (taken == 0) {
    generation = frame.generation;
    forced = false;
    volts.assign(frame.traces.size(), {});
    codes.assign(frame.traces.size(), {});
    counts.assign(frame.traces.size(), {});
    clipped.assign(frame.traces.size(), false);
    for (std::size_t t = 0; t < frame.traces.size(); ++t) {
      volts[t].assign(frame.traces[t].volts.size(), 0);
      codes[t].assign(frame.traces[t].volts.size(), 0);
      counts[t].assign(frame.traces[t].volts.size(), 0);
    }
  }
  forced = forced || frame.forced;
  for (std::size_t t = 0; t < frame.traces.size(); ++t) {
    const Frame::Trace& trace = frame.traces[t];
    clipped[t] = clipped[t] || trace.clipped;
    for (std::size_t i = 0; i < trace.volts.size() && i < volts[t].size(); ++i) {
      if (std::isnan(trace.volts[i])) continue;
      volts[t][i] += trace.volts[i];
      codes[t][i] += trace.codes[i];
      ++counts[t][i];
    }
  }
  if (++taken < n) return false;
  taken = 0;
  frame.forced = forced;
  frame.averaged = n;
  for (std::size_t t = 0; t < frame.traces.size(); ++t) {
    Frame::Trace& trace = frame.traces[t];
    trace.clipped = clipped[t];
    for (std::size_t i = 0; i < trace.volts.size(); ++i) {
      const int count = counts[t][i];
      trace.volts[i] = count ? volts[t][i] / count : NAN;
      trace.codes[i] = count ? static_cast<std::uint16_t>(std::lround(codes[t][i] / count)) : RU3_NO_SAMPLE;
    }
  }
  return true;
}

bool Engine::Publish(bool forced) {
  auto frame = std::make_shared<Frame>();
  frame->settings = Current();
  frame->generation = armed_generation_;
  const long length = GetRecordLength();
  const auto n = static_cast<std::size_t>(std::max(length, 0L));
  for (int ch = 1; ch <= 2; ++ch) {
    const auto k = static_cast<std::size_t>(ch - 1);
    if (!frame->settings.on[k]) continue;
    Frame::Trace trace;
    trace.number = ch;
    ru3cli::Channel samples;
    if (ru3cli::ReadSamples(ch, n, samples, trace.codes) != RU3_OK) return true;
    trace.range = ru3cli::RecordFacts().range[k];  // the range it was measured on
    trace.volts = std::move(samples.volts);
    trace.clipped = samples.clipped > 0;
    // Volts at the probe tip; the codes stay the instrument's.
    const double probe = frame->settings.probe[k];
    trace.range *= probe;
    if (probe != 1) {
      for (double& v : trace.volts) v *= probe;
    }
    frame->traces.push_back(std::move(trace));
  }
  // The facts of the record read, not the settings of now; a force sent as
  // the trigger came leaves it triggered.
  const RU3RecordInfo facts = ru3cli::RecordFacts();
  const bool read = !frame->traces.empty();
  frame->rate = read ? facts.sample_rate : GetSampleFrequencyF();
  frame->pre_samples = read ? facts.trigger_position : length - GetPostSamples();
  frame->forced = forced && (!read || facts.forced != 0);
  if (frame->settings.averages > 1 && !averaging_.Add(*frame, frame->settings.averages)) return false;
  for (Frame::Trace& trace : frame->traces) {
    trace.summary = ru3cli::Summarise(trace.volts, frame->rate);
    trace.figures = MeasureFigures(trace.volts, frame->rate);
  }
  // Auto-ranging may have stepped a range during the read-out.
  if (frame->settings.autorange[0] || frame->settings.autorange[1]) ReadBack();
  const auto now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  frame->seq = next_seq_++;
  frames_.push_back(std::move(frame));
  if (frames_.size() > kFramesKept) frames_.pop_front();
  frame_times_.push_back(now);
  while (frame_times_.size() > 2 && now - frame_times_.front() > std::chrono::seconds(3)) frame_times_.pop_front();
  changed_.notify_all();
  return true;
}

void Engine::Loop() {
  for (;;) {
    std::deque<std::function<void()>> work;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      const bool measuring = settings_.state != "stop";
      // Poll the instrument every millisecond while measuring; sleep otherwise.
      if (work_.empty() && !quit_) {
        if (measuring) changed_.wait_for(lock, std::chrono::milliseconds(1));
        else changed_.wait(lock, [&] { return quit_ || !work_.empty() || settings_.state != "stop"; });
      }
      if (quit_) break;
      work.swap(work_);
    }
    for (auto& item : work) item();
    const std::string state = Current().state;
    if (state == "stop") continue;
    if (!armed_) {
      Arm();
      continue;
    }
    if (ADC_Ready() != 0) {
      armed_ = false;
      // A single record is done when it is published (averaged records: the last of them).
      if (Publish(forcing_.forced()) && state == "single") {
        std::lock_guard<std::mutex> lock(mutex_);
        settings_.state = "stop";
        changed_.notify_all();
      }
      continue;
    }
    const long timeout = Current().timeout_ms;
    const auto now = Clock::now();
    if (forcing_.Due(now, timeout)) {
      (void)ADC_ForceTrig();
      forcing_.Forced(now);
    }
  }
  // Work queued before the stop still runs, so nobody waits for it in vain.
  std::deque<std::function<void()>> rest;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    rest.swap(work_);
  }
  for (auto& item : rest) item();
}

}  // namespace ru3serve

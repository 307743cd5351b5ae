#include "progress.h"

#include <cstdio>

namespace ru3cli {

namespace {
constexpr auto kQuietTime = std::chrono::milliseconds(400);
constexpr auto kRedraw = std::chrono::milliseconds(100);
}  // namespace

Progress::Progress(bool enabled) : enabled_(enabled) {
  if (enabled_) thread_ = std::thread([this] { Run(); });
}

Progress::~Progress() {
  if (!enabled_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  Draw(true);
}

void Progress::Phase(const std::string& text) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  phase_ = text;
  started_ = std::chrono::steady_clock::now();
  if (shown_) Draw(false);
}

void Progress::Prefix(const std::string& text) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  prefix_ = text;
}

void Progress::Clear() {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  phase_.clear();
  Draw(true);
}

void Progress::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    wake_.wait_for(lock, kRedraw);
    if (!stop_) Draw(false);
  }
}

// Called with the mutex held.
void Progress::Draw(bool clear) {
  if (clear || phase_.empty()) {
    if (shown_) std::fputs("\r\x1b[K", stderr);
    shown_ = false;
    std::fflush(stderr);
    return;
  }
  const auto elapsed = std::chrono::steady_clock::now() - started_;
  // A phase appears once it has lasted a while; once a line is showing, a
  // new phase replaces it at once.
  if (elapsed < kQuietTime && !shown_) return;
  const double seconds = std::chrono::duration<double>(elapsed).count();
  std::fprintf(stderr, "\r\x1b[K%s%s ... %.1f s", prefix_.c_str(), phase_.c_str(), seconds);
  std::fflush(stderr);
  shown_ = true;
}

}  // namespace ru3cli

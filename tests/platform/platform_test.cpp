// Port primitives, the busy wait across the tick wrap and the port trace.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/Global.h"
#include "platform/backends.h"
#include "support/recording_backend.h"

namespace ru3 {
namespace {

// A back end whose tick count advances by one on every read.
class CountingClock : public test::RecordingBackend {
 public:
  std::uint32_t now = 0;
  int reads = 0;
  std::uint32_t TickCount() override {
    ++reads;
    return now++;
  }
  void Delay(std::int32_t ms) override { Backend::Delay(ms); }  // the real busy wait
};

TEST(Platform, DelaySpinsExactlyAcrossTheTickWrap) {
  auto clock = std::make_unique<CountingClock>();
  CountingClock* c = clock.get();
  auto previous = platform::ReplaceBackend(std::move(clock));

  c->now = 0xFFFFFFF0U;
  Delay(100);  // crosses 2^32 after 16 ticks
  EXPECT_EQ(c->now - 0xFFFFFFF0U, 101U);  // the start, then re-reads up to start + 100
  c->reads = 0;
  Delay(0);
  EXPECT_EQ(c->reads, 2);  // the start and one re-read
  c->reads = 0;
  Delay(-5);
  EXPECT_EQ(c->reads, 2);

  platform::ReplaceBackend(std::move(previous));
}

TEST(Platform, PortPrimitivesGoThroughTheCurrentBackend) {
  auto rec = std::make_unique<test::RecordingBackend>();
  test::RecordingBackend* r = rec.get();
  auto previous = platform::ReplaceBackend(std::move(rec));
  r->reads = {0x5A};
  PortOut(0x378, 0xAA);
  EXPECT_EQ(PortIn(0x379), 0x5A);
  EXPECT_EQ(r->log, (std::vector<test::Access>{{true, 0x378, 0xAA}, {false, 0x379, 0x5A}}));
  platform::ReplaceBackend(std::move(previous));
}

TEST(Platform, TraceWritesOneLinePerAccessAndIsCompleteAfterFlush) {
  const std::string path = ::testing::TempDir() + "ru3_trace_test.txt";
  std::remove(path.c_str());
  auto inner = std::make_unique<test::RecordingBackend>();
  inner->reads = {0x50};
  auto traced = platform::CreateTraceBackend(std::move(inner), path);
  traced->Out(0x378, 0xF7);
  EXPECT_EQ(traced->In(0x379), 0x50);
  traced->Out(0x3BC, 0x0C);
  traced->Flush();
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), "O 0378 F7\nI 0379 50\nO 03BC 0C\n");
  std::remove(path.c_str());
}

TEST(Platform, RoundingIsToNearestWithTiesToEven) {
  EXPECT_EQ(RoundHalfEven(2.5L), 2.0L);
  EXPECT_EQ(RoundHalfEven(3.5L), 4.0L);
  EXPECT_EQ(RoundHalfEven(-0.5L), -0.0L);
  EXPECT_EQ(RoundHalfEven(30769.230769L), 30769.0L);
}

}  // namespace
}  // namespace ru3

// Printer-port discovery: the probing order and its fallbacks, the probe
// itself, and the table from the system configuration.
#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "platform/Global.h"
#include "sim/simulator.h"
#include "support/recording_backend.h"

namespace ru3 {
namespace {

using Probe = std::pair<std::string, int>;  // device name, address
using Table = std::array<std::int32_t, 3>;

// A PC whose printer ports latch what is written to their data register;
// every other address reads 0xFF. Records each probe that got past the
// device test.
class PortsBackend : public test::RecordingBackend {
 public:
  std::set<int> ports;
  std::map<int, std::uint8_t> latched;
  std::vector<Probe> probes;
  int platform_id = platform::kPlatformNT;
  std::map<std::string, std::uint64_t> configured;  // 9x family

  void Out(std::uint16_t port, std::uint8_t value) override {
    RecordingBackend::Out(port, value);
    if (value == 0xAA) probes.emplace_back(opened.empty() ? "" : opened.back(), port);
    if (ports.count(port) != 0) latched[port] = value;
  }
  std::uint8_t In(std::uint16_t port) override {
    default_read = ports.count(port) != 0 ? latched[port] : 0xFF;
    return RecordingBackend::In(port);
  }
  int PlatformId() override { return platform_id; }
  std::uint64_t LookupPortBase(const std::string& name) override {
    return configured.count(name) != 0 ? configured[name] : 0;
  }
};

class Discovery : public ::testing::Test {
 protected:
  void SetUp() override {
    auto backend = std::make_unique<PortsBackend>();
    pc = backend.get();
    previous = platform::ReplaceBackend(std::move(backend));
    LptAddress = {0, 0, 0};
  }
  void TearDown() override {
    LptAddress = {0, 0, 0};
    platform::ReplaceBackend(std::move(previous));
  }
  PortsBackend* pc = nullptr;
  std::unique_ptr<platform::Backend> previous;
};

TEST_F(Discovery, ProbingFollowsTheTenStepsAndTheirFallbacks) {
  const std::set<std::string> all = {"LPT1", "LPT2", "LPT3"};
  struct Case {
    const char* what;
    std::set<std::string> names;
    std::set<int> ports;
    Table table;
    std::vector<Probe> probes;
  };
  const std::vector<Probe> ten_steps = {{"LPT1", 0x378}, {"LPT2", 0x278},  {"LPT3", 0x3BC}, {"LPT1", 0x278},
                                        {"LPT1", 0x3BC}, {"LPT1", 0xEC00}, {"LPT2", 0x378}, {"LPT2", 0x3BC},
                                        {"LPT3", 0x378}, {"LPT3", 0x278}};
  const std::vector<Case> cases = {
      {"only 0x378, named LPT1", {"LPT1"}, {0x378}, {0x378, 0, 0}, {{"LPT1", 0x378}}},
      {"0x378 is never tried for LPT2 or LPT3 once LPT1 holds it",
       all,
       {0x378},
       {0x378, 0, 0},
       {{"LPT1", 0x378}, {"LPT2", 0x278}, {"LPT3", 0x3BC}, {"LPT2", 0x3BC}, {"LPT3", 0x278}}},
      {"the only port at 0x278 named LPT1 is found at step 4",
       {"LPT1"},
       {0x278},
       {0x278, 0, 0},
       {{"LPT1", 0x378}, {"LPT1", 0x278}}},
      {"nothing answers: all ten steps in order", all, {}, {0, 0, 0}, ten_steps},
      {"the last resort for LPT1", all, {0xEC00}, {0xEC00, 0, 0}, ten_steps},
      {"LPT1 and LPT2 both end at 0x3BC",
       {"LPT1", "LPT2"},
       {0x3BC},
       {0x3BC, 0x3BC, 0},
       {{"LPT1", 0x378}, {"LPT2", 0x278}, {"LPT1", 0x278}, {"LPT1", 0x3BC}, {"LPT2", 0x378}, {"LPT2", 0x3BC}}},
      // Step 10 looks at LPT1, not LPT2, so LPT3 may take LPT2's own address.
      {"LPT2 at 0x278 is tried again for LPT3",
       all,
       {0x278},
       {0, 0x278, 0x278},
       {{"LPT1", 0x378},
        {"LPT2", 0x278},
        {"LPT3", 0x3BC},
        {"LPT1", 0x3BC},
        {"LPT1", 0xEC00},
        {"LPT3", 0x378},
        {"LPT3", 0x278}}},
      {"a device that cannot be opened costs nothing", {"LPT2"}, {0x378, 0x278}, {0, 0x278, 0}, {{"LPT2", 0x278}}},
      {"no device names at all", {}, {0x378, 0x278, 0x3BC}, {0, 0, 0}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pc->devices = c.names;
    pc->ports = c.ports;
    pc->log.clear();
    pc->probes.clear();
    pc->delays.clear();
    LptAddress = {-1, -1, -1};
    DiscoverPorts();
    EXPECT_EQ(LptAddress, c.table);
    EXPECT_EQ(pc->probes, c.probes);
    // Exactly one 100 ms wait per probe whose device opened, none otherwise.
    EXPECT_EQ(pc->delays, std::vector<std::int32_t>(c.probes.size(), 100));
    EXPECT_EQ(pc->log.size(), 3 * c.probes.size());
    EXPECT_TRUE(pc->held.empty()) << "a device was left open";
  }
}

TEST_F(Discovery, ProbeWritesPatternAndControlWaitsThenReadsBack) {
  pc->ports = {0x278};
  EXPECT_TRUE(ProbePort(0x278, "LPT2"));
  const std::vector<test::Access> expected = {{true, 0x278, 0xAA}, {true, 0x27A, 0x00}, {false, 0x278, 0xAA}};
  EXPECT_EQ(pc->log, expected);
  EXPECT_EQ(pc->delays, std::vector<std::int32_t>{100});
  EXPECT_TRUE(pc->held.empty());

  // A register that does not hold the pattern: no port, device closed too.
  EXPECT_FALSE(ProbePort(0x3BC, "LPT3"));
  EXPECT_TRUE(pc->held.empty());
  // A device held by someone else counts as absent.
  pc->held.insert("LPT1");
  pc->log.clear();
  EXPECT_FALSE(ProbePort(0x278, "LPT1"));
  EXPECT_TRUE(pc->log.empty());
}

TEST_F(Discovery, ConfigurationDecidesAloneOnThe9xFamily) {
  pc->platform_id = platform::kPlatform9x;
  pc->ports = {0x378, 0x278};
  // Only the low 32 bits of a base are kept; a port the configuration does
  // not know stays 0 even though probing would find it.
  pc->configured = {{"LPT1", 0x1'0000'0BC0ULL}, {"LPT3", 0x3BC}};
  DiscoverPorts();
  EXPECT_EQ(LptAddress, (Table{0xBC0, 0, 0x3BC}));
  EXPECT_TRUE(pc->log.empty());
  EXPECT_TRUE(pc->opened.empty());
  EXPECT_TRUE(pc->delays.empty());
}

TEST_F(Discovery, ConfigurationFillsWhatProbingMissedOnTheNTFamily) {
  // A PCI Express card at 0xD010 named LPT2 beside the classic LPT1. The
  // configuration's base for LPT3 is a probed address, which the probing
  // steps alone decide on; LPT1, found, is not looked up.
  pc->devices = {"LPT1", "LPT2", "LPT3"};
  pc->ports = {0x378, 0xD010};
  pc->configured = {{"LPT1", 0xC000}, {"LPT2", 0xD010}, {"LPT3", 0x278}};
  DiscoverPorts();
  EXPECT_EQ(LptAddress, (Table{0x378, 0xD010, 0}));
  const std::vector<Probe> expected = {{"LPT1", 0x378}, {"LPT2", 0x278}, {"LPT3", 0x3BC},
                                       {"LPT2", 0x3BC}, {"LPT3", 0x278}, {"LPT2", 0xD010}};
  EXPECT_EQ(pc->probes, expected);
}

TEST_F(Discovery, UnknownFamilyLeavesTheTableAlone) {
  pc->platform_id = 0;
  LptAddress = {0x111, 0, 0x333};
  DiscoverPorts();
  EXPECT_EQ(LptAddress, (Table{0x111, 0, 0x333}));
  EXPECT_TRUE(pc->log.empty());
}

// The same probing against the simulated PC, whose ports latch what is
// written and whose device names exist only for the ports it has.
TEST(DiscoveryOnSimulator, TablesTimeAndPortTraffic) {
  struct Case {
    const char* what;
    std::array<std::uint16_t, 3> bases;
    bool hold_lpt1;
    Table table;
    int probes;  // each costs 100 ms
  };
  const std::vector<Case> cases = {
      {"only 0x378, named LPT1", {0x378, 0, 0}, false, {0x378, 0, 0}, 1},
      {"the only port at 0x278, named LPT1", {0x278, 0, 0}, false, {0x278, 0, 0}, 2},
      {"no device names at all", {0, 0, 0}, false, {0, 0, 0}, 0},
      {"LPT1 and LPT2 at 0x378: LPT2 never gets it", {0x378, 0x378, 0}, false, {0x378, 0, 0}, 3},
      {"LPT1 and LPT2 at 0x3BC: both find it", {0x3BC, 0x3BC, 0}, false, {0x3BC, 0x3BC, 0}, 6},
      {"LPT1 held by another program", {0x378, 0, 0}, true, {0, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimConfig config;
    config.port_bases = c.bases;
    config.instrument_port = -1;
    config.wall_clock_coupling = false;
    auto backend = std::make_unique<sim::SimulatedPc>(config);
    sim::SimulatedPc* pc = backend.get();
    auto previous = platform::ReplaceBackend(std::move(backend));
    if (c.hold_lpt1) {
      ASSERT_NE(pc->OpenDevice("LPT1"), platform::kNoDevice);
    }
    DiscoverPorts();
    EXPECT_EQ(LptAddress, c.table);
    EXPECT_EQ(pc->AccessCount(), 3U * static_cast<unsigned>(c.probes));
    EXPECT_EQ(pc->NowNs() / 1'000'000, 100U * static_cast<unsigned>(c.probes));
    platform::ReplaceBackend(std::move(previous));
  }
  LptAddress = {0, 0, 0};
}

}  // namespace
}  // namespace ru3

// ru3 trace: the port-trace decoder on traces of the real library and on
// hand-made ones.
#include "support/cli_runner.h"

namespace {

using namespace cli_test;

// ---- trace ----------------------------------------------------------------------------

TEST_F(Cli, TraceOfInitInstrumentNamesTheEepromReadsAndTheClock) {
  const Result r = Run({"--simulate=serial=12345", "info"}, {{"RU3_PORT_TRACE", (dir / "init.trace").string()}});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string decoded = Decode("init.trace");
  for (const char* text : {
           "EEPROM read at address 1 (0x01), 1 byte: AA (signature: instrument present)",
           "EEPROM read at address 5 (0x05), 1 byte: 10 (variant: 200 kHz)",
           "sample clock: prescaler 1, divider 2 (counter 3 := FFFF): 200000 Hz",
           "EEPROM read at address 0 (0x00), 256 bytes: signature AA, variant 10, serial number 12345",
           "input relays := 77",
           "trim converters of channel 1",
           "converter 2 loaded: gain code",
           "DAC output 1 := code 2048 (+0.000 V)",
           "motor outputs: first off, second off (register 10 := 0) [unit 4]",
           "port 0378: ",
           "signature AA (instrument)",
       }) {
    EXPECT_NE(decoded.find(text), std::string::npos) << text << "\n" << decoded;
  }
  // The EEPROM read comes before the clock is programmed.
  EXPECT_LT(decoded.find("at address 1 (0x01)"), decoded.find("sample clock"));
}

TEST_F(Cli, TraceOfAPortWithoutInstrumentShowsTheFailedSignature) {
  const Result r = Run({"--simulate=port=none", "info"}, {{"RU3_PORT_TRACE", (dir / "none.trace").string()}});
  EXPECT_EQ(r.status, 3);
  const std::string decoded = Decode("none.trace");
  EXPECT_NE(decoded.find("EEPROM read at address 1 (0x01), 1 byte, not acknowledged: FF (signature wrong: no "
                         "instrument on this port)"),
            std::string::npos)
      << decoded;
  EXPECT_NE(decoded.find("signature FF (no instrument)"), std::string::npos) << decoded;
  // Nothing is read from the memory after a wrong signature.
  EXPECT_EQ(decoded.find("at address 5"), std::string::npos) << decoded;
}

TEST_F(Cli, TraceOfACaptureShowsArmingTriggerAndSampleReads) {
  const Result r = Run({kSignals, "capture", "--range", "2,0.4", "--length", "200", "--pre", "0.25", "--rate", "50000",
                        "--level", "0.5", "-o", "c.csv", "-q"},
                       {{"RU3_PORT_TRACE", (dir / "capture.trace").string()}});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string decoded = Decode("capture.trace");
  for (const char* text : {
           "sample clock: prescaler 1, divider 8 (counter 3 := FFF9): 50000 Hz",
           "post-trigger samples: 150",
           "trigger source: channel 1 (register 10 := 0)",
           "trigger kind: kind 0 (register 11 := 4)",
           "trigger levels: counter 2 := ",
           "level code 159",  // 0.5 V of 2 V: 127 + 32
           "arm: acquisition started",
           "write pointer: newest sample at",
           "read channel 1: ",
           "read channel 2: ",
       }) {
    EXPECT_NE(decoded.find(text), std::string::npos) << text << "\n" << decoded;
  }
}

TEST_F(Cli, TraceOfTheAuxiliaryOutputsShowsCodesAndUnit) {
  const std::string trace = (dir / "aux.trace").string();
  ASSERT_EQ(Run({"--simulate", "dac", "5", "-2.5", "--for", "0"}, {{"RU3_PORT_TRACE", trace}}).status, 0);
  ASSERT_EQ(Run({"--simulate", "--unit", "2", "motor", "on", "off", "--for", "0"}, {{"RU3_PORT_TRACE", trace}}).status,
            0);
  const std::string decoded = Decode("aux.trace");
  EXPECT_NE(decoded.find("DAC output 1 := code 3072 (+5.000 V)"), std::string::npos) << decoded;
  EXPECT_NE(decoded.find("DAC output 2 := code 1536 (-2.500 V)"), std::string::npos) << decoded;
  // Motors live on unit 4 whatever unit is selected; the first is switched on.
  EXPECT_NE(decoded.find("motor outputs: first on, second off (register 10 := 1) [unit 4]"), std::string::npos)
      << decoded;
}

// Writes port traces the way the driver's register protocol drives the port.
class TraceWriter {
 public:
  explicit TraceWriter(bool slow = false, std::uint8_t unit_bits = 0x30) : n_(slow ? 2 : 1), unit_(unit_bits) {}

  void Write(int reg, int value) {
    Cycle(reg, value);
    Out(0, Byte(15));
  }
  // A register read whose instrument answers `value`.
  void Read(int reg, int value) {
    Cycle(15, reg);
    Repeat([&] { Out(0, Byte(15) | 0x80); });
    Repeat([&] { In(1, ((value >> 4) << 3) | 0x87); });
    Repeat([&] { Out(0, Byte(15) & 0x7F); });
    Repeat([&] { In(1, ((value & 15) << 3) | 0x07); });
    Out(0, Byte(15));
  }
  void Latch16(int strobe, int word) {
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 4; ++j) {
        const int d = (word >> (4 * i + 3 - j)) & 1;
        Write(5, j + 4 * d);
        Write(strobe, 1 << i);
        Write(strobe, 0);
      }
    }
  }
  void Line(const std::string& text) { text_ += text + "\n"; }
  const std::string& text() const { return text_; }

 private:
  int Byte(int nibble) const { return 0xC0 | unit_ | nibble; }
  template <typename F>
  void Repeat(F f) {
    for (int i = 0; i < n_; ++i) f();
  }
  void Cycle(int reg, int value) {
    Repeat([&] { Out(0, Byte(reg)); });
    Repeat([&] { Out(2, 0x0C); });
    Repeat([&] { Out(2, 0x04); });
    Repeat([&] { Out(0, Byte(value)); });
    Repeat([&] { Out(2, 0x06); });
    Repeat([&] { Out(2, 0x04); });
  }
  void Out(int offset, int value) { Access('O', offset, value); }
  void In(int offset, int value) { Access('I', offset, value); }
  void Access(char kind, int offset, int value) {
    char line[32];
    std::snprintf(line, sizeof line, "%c %04X %02X\n", kind, 0x278 + offset, value & 0xFF);
    text_ += line;
  }

  int n_;
  int unit_;
  std::string text_;
};

TEST_F(Cli, TraceDecodesHandWrittenRegisterTraffic) {
  struct Case {
    std::string name;
    bool slow;
    std::uint8_t unit;
    std::function<void(TraceWriter&)> write;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"plain writes, registers shown",
       false,
       0x30,
       [](TraceWriter& t) { t.Write(7, 9); },
       {"register 7 := 9", "clock select: register 7 := 9"}},
      {"slow port repeats every access",
       true,
       0x30,
       [](TraceWriter& t) { t.Write(13, 7); },
       {"acquisition mode: register 13 := 7", "1 register writes"}},
      {"unit bits of unit 3",
       false,
       0x10,
       [](TraceWriter& t) { t.Write(11, 5); },
       {"trigger kind: kind 3 (register 11 := 5) [unit 3]"}},
      {"read of high then low nibble", false, 0x30, [](TraceWriter& t) { t.Read(0, 0xA5); }, {"register 0 reads A5"}},
      {"slow read keeps the last of each pair",
       true,
       0x30,
       [](TraceWriter& t) { t.Read(0, 0x3C); },
       {"register 0 reads 3C"}},
      {"write pointer at the wrap",
       false,
       0x30,
       [](TraceWriter& t) {
         t.Read(1, 0xFF);
         t.Read(0, 0xFE);
       },
       {"write pointer: newest sample at 32766"}},
      {"status register",
       false,
       0x30,
       [](TraceWriter& t) { t.Read(2, 0x41); },
       {"status 41: complete, triggered on channel 1, memory wrapped"}},
      {"post-trigger counter",
       false,
       0x30,
       [](TraceWriter& t) {
         t.Latch16(4, 0xFDFF);
         t.Write(12, 1);
       },
       {"post-trigger samples: 256 (counter 4 := FDFF)"}},
      {"sample clock of 30 kHz",
       false,
       0x30,
       [](TraceWriter& t) {
         t.Latch16(3, 0xFFFF - 11);
         t.Write(14, 0);
         t.Write(1, 1);
         t.Write(1, 0);
       },
       {"sample clock: prescaler 1, divider 13 (counter 3 := FFF4): 30769.2 Hz"}},
      {"broken-off counter load",
       false,
       0x30,
       [](TraceWriter& t) {
         t.Write(5, 4);
         t.Write(2, 1);
         t.Write(2, 0);
       },
       {"counter 2 load incomplete (1 of 16 bits)"}},
      {"comments and blank lines",
       false,
       0x30,
       [](TraceWriter& t) {
         t.Line("# a note from the user");
         t.Line("");
         t.Write(10, 1);
       },
       {"trigger source: channel 2 (register 10 := 1)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TraceWriter writer(c.slow, c.unit);
    c.write(writer);
    std::ofstream(dir / "hand.trace") << writer.text();
    const std::string decoded = Decode("hand.trace", {"--registers"});
    for (const std::string& text : c.expected) {
      EXPECT_NE(decoded.find(text), std::string::npos) << text << "\n" << decoded;
    }
  }
}

TEST_F(Cli, TraceFoldsRepeatsAndReadsStandardInput) {
  TraceWriter writer;
  for (int i = 0; i < 5; ++i) writer.Read(2, 0x80);
  writer.Read(2, 0x01);
  std::ofstream(dir / "polls.trace") << writer.text();
  const std::string decoded = Decode("polls.trace");
  EXPECT_NE(decoded.find("status 80: busy  (x5, to line"), std::string::npos) << decoded;
  EXPECT_NE(decoded.find("status 01: complete, triggered on channel 1"), std::string::npos) << decoded;
}

}  // namespace

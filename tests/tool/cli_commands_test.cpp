// ru3's command line: bad input refused with one message and no file left
// behind, exit statuses, help, info, and the DAC and motor outputs.
#include "support/cli_runner.h"

namespace {

using namespace cli_test;

// ---- bad input ------------------------------------------------------------------

TEST_F(Cli, BadInputGivesOneMessageAndLeavesNoFile) {
  std::ofstream(dir / "old.csv") << "kept\n";
  std::ofstream(dir / "junk.trace") << "O 0378 F7\nhello world\n";
  struct Case {
    std::vector<std::string> args;
    std::string message;  // part of the one line on standard error
  };
  const std::vector<Case> cases = {
      {{"capture", "--bogus"}, "--bogus"},
      {{"frobnicate"}, "frobnicate"},
      {{"--simulate", "capture", "--rate", "fast", "-o", "x.csv"}, "--rate \"fast\" is not a number"},
      {{"--simulate", "capture", "--rate", "1e6", "-o", "x.csv"}, "above the instrument's maximum of 200000 Hz"},
      {{"--simulate", "capture", "--range", "81", "-o", "old.csv"}, "beyond the instrument's largest range"},
      {{"--simulate", "capture", "--range", "auto,-1", "-o", "x.csv"}, "--range"},
      {{"--simulate", "capture", "--length", "40000", "-o", "x.csv"}, "the longest record is 32760"},
      {{"--simulate", "capture", "--length", "0", "-o", "x.csv"}, "--length"},
      {{"--simulate", "capture", "--trigger", "ch3", "-o", "x.csv"}, "--trigger"},
      {{"--simulate", "capture", "--range", "2", "--level", "5", "-o", "x.csv"}, "outside channel 1's range"},
      {{"--simulate", "capture", "--kind", "5", "-o", "x.csv"}, "--kind"},
      {{"--simulate", "capture", "--count", "0", "-o", "x.csv"}, "--count 0"},
      {{"--simulate", "capture", "--coupling", "2", "-o", "x.csv"}, "--coupling"},
      {{"--simulate", "capture", "-o", "missing/dir/x.csv"}, "cannot write missing/dir/x.csv"},
      {{"--simulate", "capture", "-o", "x.csv", "--plot", "x.jpg"}, ".png or .svg"},
      {{"--simulate", "capture", "-o", "x.csv", "--plot", "x.png", "--size", "10x10"}, "--size"},
      {{"--simulate", "--unit", "5", "dac", "0", "0"}, "--unit 5"},
      {{"--simulate", "dac", "12", "0", "--for", "0"}, "-10 to +10 V"},
      {{"--simulate", "dac", "one", "0", "--for", "0"}, "is not a number"},
      {{"--simulate", "motor", "on", "maybe", "--for", "0"}, "expected on or off"},
      {{"trace", "absent.trace"}, "cannot read absent.trace"},
      {{"trace", "junk.trace"}, "junk.trace:2: not a port-trace line"},
      {{"--simulate=port=none", "capture", "-o", "x.csv"}, "no instrument found"},
      {{"--simulate", "capture", "-o", "x.png", "--plot", "./x.png"}, "-o and --plot both name"},
      {{"--simulate", "capture", "-o", "x.csv", "--size", "640x480"}, "--size 640x480 has no use without --plot"},
      {{"--simulate", "capture", "-o", "x.csv", "--average"}, "--average needs --count"},
      {{"--simulate", "capture", "-o", "x.csv", "--trigger", "none", "--level", "1"}, "--level has no use"},
      {{"--simulate", "capture", "-o", "x.csv", "--trigger", "none", "--timeout", "5"}, "--timeout has no use"},
      {{"--simulate", "capture", "-o", "x.csv", "--range", "2,0.4,1"}, "one value too many"},
      {{"--simulate", "capture", "-o", "x.csv", "--coupling", "dc,ac,dc"}, "one value too many"},
      {{"--simulate", "capture", "-o", "x.csv", "--kind", "sideways"}, "rising (0), falling (1)"},
      {{"--simulate", "capture", "-o", "x.csv", "--coupling", "hf"}, "dc (0), ac (1)"},
      {{"--simulate=bogus=1", "capture", "-o", "x.csv"}, "RU3_SIMULATOR"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const Result r = Run(c.args);
    EXPECT_NE(r.status, 0);
    const std::vector<std::string> err = Lines(r.err);
    ASSERT_EQ(err.size(), 1u) << r.err;
    EXPECT_EQ(err[0].rfind("ru3: ", 0), 0u) << err[0];
    EXPECT_NE(err[0].find(c.message), std::string::npos) << err[0];
    EXPECT_TRUE(r.out.empty()) << r.out;
    // Nothing new in the directory, not even a temporary, and the old file
    // is as it was.
    EXPECT_EQ(Files(), (std::vector<std::string>{"junk.trace", "old.csv"}));
    EXPECT_EQ(ReadFile(dir / "old.csv"), "kept\n");
  }
}

TEST_F(Cli, ExitStatusTellsUsageFromMissingInstrument) {
  EXPECT_EQ(Run({"capture", "--rate", "x"}).status, 2);
  // A malformed simulator configuration is a usage error, said once.
  const Result malformed = Run({"--simulate=ch1=sine,x,1", "info"});
  EXPECT_EQ(malformed.status, 2);
  EXPECT_EQ(Lines(malformed.err).size(), 1u) << malformed.err;
  const Result none = Run({"--simulate=port=none", "info"});
  EXPECT_EQ(none.status, 3);
  // The reason names the port that was tried and what it answered.
  EXPECT_NE(none.err.find("port 0x378 (LPT1): the EEPROM signature reads FF, not AA"), std::string::npos) << none.err;
  EXPECT_EQ(Run({"--help"}).status, 0);
}

// ---- info ----------------------------------------------------------------------------

TEST_F(Cli, InfoSaysWhatAndWhereTheInstrumentIs) {
  struct Case {
    std::string config;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"--simulate",
       {"200 kHz variant", "simulator, LPT1 at base address 0x378", "serial number      10001",
        "calibration date   2021-06-14", "max sample rate    200000 Hz", "32760 samples",
        "80, 40, 20, 8, 4, 2, 0.8, 0.4, 0.2, 0.1 V", "12 bits"}},
      {"--simulate=ports=0x3BC,0x278,0;port=LPT2;serial=4242;caldate=2019-02-03T04:05;variant=0x11",
       {"400 kHz variant", "LPT2 at base address 0x278", "serial number      4242", "2019-02-03",
        "max sample rate    400000 Hz"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    const Result r = Run({c.config, "info"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& text : c.expected) EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
  }
  // Locating the port leaves no temporary trace behind.
  EXPECT_TRUE(Files().empty());
}

TEST_F(Cli, OptionsTakeNamesAndUnits) {
  // --range 2V,400mV, --coupling by name, --kind by name: the trace shows
  // what reached the instrument.
  const std::string trace = (dir / "names.trace").string();
  const Result r = Run({kSignals, "capture", "--range", "2V,400mV", "--coupling", "dc,AC", "--kind", "either",
                        "--length", "50", "-o", "n.csv"},
                       {{"RU3_PORT_TRACE", trace}});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string header = Lines(ReadFile(dir / "n.csv"))[0];
  EXPECT_NE(header.find("range 2 V"), std::string::npos) << header;
  EXPECT_NE(header.find("range 0.4 V"), std::string::npos) << header;
  const std::string decoded = Decode("names.trace");
  EXPECT_NE(decoded.find("trigger kind: kind 3 (register 11 := 5)"), std::string::npos) << decoded;
  EXPECT_EQ(Run({"--simulate", "motor", "ON", "0", "--for", "0"}).status, 0);
}

TEST_F(Cli, HelpShowsTypesUnitsDefaultsExitCodesAndExamples) {
  const Result top = Run({"--help"});
  ASSERT_EQ(top.status, 0);
  for (const char* text : {"Exit status:", "130", "no instrument found", "Examples:", "ru3 --simulate info"}) {
    EXPECT_NE(top.out.find(text), std::string::npos) << text << "\n" << top.out;
  }
  EXPECT_NE(top.out.find("trace, serve)"), std::string::npos) << top.out;
  // Each command's help ends with its own exit statuses and examples.
  for (const auto& [command, own, foreign] : {std::tuple<const char*, const char*, const char*>{
                                                  "dac", "ru3 dac 2.5 -1", "ru3 capture --rate"},
                                              {"info", "ru3 info", "130"},
                                              {"trace", "ru3 trace init.trace", "ru3 --simulate info\n"},
                                              {"serve", "ru3 serve --listen", "ru3 capture --rate"}}) {
    const Result help = Run({command, "--help"});
    ASSERT_EQ(help.status, 0) << command;
    EXPECT_NE(help.out.find(own), std::string::npos) << help.out;
    EXPECT_EQ(help.out.find(foreign), std::string::npos) << help.out;
  }
  const Result capture = Run({"capture", "--help"});
  ASSERT_EQ(capture.status, 0);
  for (const char* text : {"--rate HZ", "--range V|auto=auto", "--kind KIND", "default 1000", "--size WxH", "NAME.sr",
                           "--timeout MS|none"}) {
    EXPECT_NE(capture.out.find(text), std::string::npos) << text << "\n" << capture.out;
  }
}

// A unit that does not answer is said to, not measured as what the status
// lines float at; unit 1 answers.
TEST_F(Cli, AUnitThatDoesNotAnswerIsSaidPlainly) {
  for (const auto& [simulate, unit, command] :
       {std::tuple<const char*, const char*, const char*>{"--simulate=units=1", "2", "info"},
        {"--simulate", "3", "capture"}}) {
    std::vector<std::string> args = {simulate, "--unit", unit, command};
    if (std::string(command) == "capture") args.insert(args.end(), {"-o", "u.csv"});
    const Result r = Run(args);
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_NE(r.err.find(std::string("unit ") + unit + " does not answer"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "u.csv"));
  }
  const Result one = Run({"--simulate=units=1", "--unit", "1", "capture", "--length", "1", "-o", "u.csv"});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_NE(one.out.find(", 1 sample, "), std::string::npos) << one.out;
  EXPECT_EQ(Run({"--simulate=units=5", "info"}).status, 2);
}

TEST_F(Cli, DacSaysTheVoltagesTheOutputsTook) {
  const Result r = Run({"--simulate", "dac", "2.5", "-1", "--for", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  // -1 V is no 12-bit step: the output takes the nearest, code 1843.
  EXPECT_NE(r.out.find("DAC outputs at 2.5 V and -1.000977 V (-1 V asked)"), std::string::npos) << r.out;
  const Result top = Run({"--simulate", "dac", "10", "0", "--for", "0"});
  EXPECT_NE(top.out.find("at 9.995117 V (10 V asked) and 0 V"), std::string::npos) << top.out;
}

}  // namespace

// ru3 capture against the simulator: CSV columns and values against the
// simulated signals, summaries and their notes, files through links and
// pipes, plots of the size asked for, sigrok sessions and WAV files.
#include "support/cli_runner.h"

namespace {

using namespace cli_test;

// ---- capture: CSV ------------------------------------------------------------

TEST_F(Cli, CaptureWritesTheSimulatedSignalsAsCsv) {
  const Result r = Run({kSignals, "capture", "--rate", "100000", "--length", "1000", "--pre", "0.2", "--range", "2,0.4",
                        "-o", "capture.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(ReadFile(dir / "capture.csv"));
  ASSERT_EQ(lines.size(), 1001u);

  // The header names the units, the rate and each channel's range.
  const std::vector<std::string> header = Fields(lines[0]);
  ASSERT_EQ(header.size(), 3u);
  EXPECT_NE(header[0].find("time (s"), std::string::npos) << header[0];
  EXPECT_NE(header[0].find("100000 Hz"), std::string::npos) << header[0];
  EXPECT_NE(header[1].find("CH1 (V"), std::string::npos) << header[1];
  EXPECT_NE(header[1].find("range 2 V"), std::string::npos) << header[1];
  EXPECT_NE(header[2].find("range 0.4 V"), std::string::npos) << header[2];

  int samples = 0;
  double ch1_min = 10, ch1_max = -10;
  std::optional<std::size_t> trigger_row;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> f = Fields(lines[i]);
    ASSERT_EQ(f.size(), 3u) << lines[i];
    // Time runs in sample periods from -200 periods (the pre-trigger share).
    const double t = std::stod(f[0]);
    EXPECT_NEAR(t, (static_cast<double>(i) - 1 - 200) * 1e-5, 1e-12) << lines[i];
    if (t == 0) trigger_row = i;
    if (f[1].empty()) {
      // A position without a sample is empty in both channels. (The trigger
      // came before the memory held the whole pre-trigger share.)
      EXPECT_TRUE(f[2].empty()) << lines[i];
      continue;
    }
    ++samples;
    const double v1 = std::stod(f[1]);
    const double v2 = std::stod(f[2]);
    // Numbers carry every digit: each is a whole number of 12-bit steps.
    EXPECT_DOUBLE_EQ(std::round(v1 * 2048 / 2), v1 * 2048 / 2) << lines[i];
    EXPECT_DOUBLE_EQ(std::round(v2 * 2048 / 0.4), v2 * 2048 / 0.4) << lines[i];
    EXPECT_NEAR(v2, 0.25, 0.01) << lines[i];
    ch1_min = std::min(ch1_min, v1);
    ch1_max = std::max(ch1_max, v1);
  }
  EXPECT_GT(samples, 750);
  EXPECT_NEAR(ch1_max, 1.5, 0.03);
  EXPECT_NEAR(ch1_min, -1.5, 0.03);
  // Triggered on channel 1 rising through 0 V: the trigger sample is near 0
  // and the signal rises after it.
  ASSERT_TRUE(trigger_row);
  const double at = std::stod(Fields(lines[*trigger_row])[1]);
  const double later = std::stod(Fields(lines[*trigger_row + 10])[1]);
  EXPECT_NEAR(at, 0.0, 0.1);
  EXPECT_GT(later, at + 0.5);
  // The summary names each channel's frequency.
  EXPECT_NE(r.out.find("CH1 (range 2 V)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("frequency 1 kHz"), std::string::npos) << r.out;
}

TEST_F(Cli, CaptureToStandardOutputKeepsTheSummaryOnStandardError) {
  const Result r = Run({kSignals, "capture", "--channels", "2", "--range", "auto", "--length", "100"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 101u);
  EXPECT_EQ(Fields(lines[0]).size(), 2u) << lines[0];
  // Auto-ranging settles on the smallest range that holds 0.25 V.
  EXPECT_NE(lines[0].find("CH2 (V; range 0.4 V"), std::string::npos) << lines[0];
  EXPECT_NE(r.err.find("CH2 (range 0.4 V)"), std::string::npos) << r.err;
  EXPECT_TRUE(Files().empty());
}

TEST_F(Cli, CountSavesEachCaptureOrTheirMean) {
  Result r = Run({kSignals, "capture", "--range", "2,0.4", "--length", "64", "--count", "3", "-o", "run.csv", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Files(), (std::vector<std::string>{"run-1.csv", "run-2.csv", "run-3.csv"}));

  fs::remove_all(dir);
  fs::create_directories(dir);
  r = Run({kSignals, "capture", "--range", "2,0.4", "--length", "64", "--count", "3", "--average", "-o", "mean.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Files(), (std::vector<std::string>{"mean.csv"}));
  const std::vector<std::string> lines = Lines(ReadFile(dir / "mean.csv"));
  EXPECT_NE(lines[0].find("mean of 3"), std::string::npos) << lines[0];
  EXPECT_NE(r.out.find("mean of 3"), std::string::npos) << r.out;
}

TEST_F(Cli, SummaryMeasuresEachSignalShape) {
  struct Case {
    std::string signal;  // channel 1 of the simulator
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"ch1=sine,1.5,1000", {"p-p 3 V", "rms 1.06", "frequency 1 kHz"}},
      {"ch1=square,0.5,250", {"min -0.5 V", "max 0.5 V", "rms 0.5 V", "frequency 250 Hz"}},
      {"ch1=triangle,1,2000", {"rms 0.57", "frequency 2 kHz"}},
      {"ch1=dc,0.3,0", {"mean 0.29", "p-p 0 V", "frequency unknown"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signal);
    const Result r = Run({"--simulate=" + c.signal, "capture", "--channels", "1", "--trigger", "none", "--rate",
                          "100000", "--length", "4000", "--pre", "0", "--range", "2", "-o", "s.csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& text : c.expected) EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
  }
}

TEST_F(Cli, TimeOutForcesTheTriggerAndProgressSaysSo) {
  // A 1 V sine never reaches a 1.9 V level: the trigger is forced after the time-out.
  const Result r = Run({kSignals, "capture", "--range", "2", "--level", "1.9", "--timeout", "700", "--rate", "20000",
                        "--length", "1000", "--progress", "-o", "forced.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("measuring, trigger forced after the time-out"), std::string::npos) << r.err;
  // The progress line is cleared before the summary.
  EXPECT_NE(r.err.find("\r\x1b[K"), std::string::npos);
  EXPECT_NE(r.out.find("trigger CH1 at 1.9"), std::string::npos) << r.out;
  EXPECT_EQ(Lines(ReadFile(dir / "forced.csv")).size(), 1001u);
}

TEST_F(Cli, InterruptedCaptureLeavesNoFile) {
  Child child({kSignals, "capture", "--range", "2", "--level", "1.9", "--timeout", "none", "--progress", "-o",
               "never.csv", "--plot", "never.png"},
              {}, dir);
  ASSERT_TRUE(child.WaitForOutput("waiting for the trigger", std::chrono::seconds(30), true));
  child.Signal(SIGINT);
  const Result r = child.Finish();
  EXPECT_EQ(r.status, 130);
  EXPECT_NE(r.err.find("ru3: interrupted"), std::string::npos) << r.err;
  EXPECT_TRUE(Files().empty());
}

TEST_F(Cli, OutputsThroughLinksPipesAndWithTheUsualPermissions) {
  // A symbolic link keeps pointing at the file, which gets the record.
  std::ofstream(dir / "real.csv") << "old\n";
  fs::create_symlink("real.csv", dir / "link.csv");
  ASSERT_EQ(Run({kSignals, "capture", "--length", "10", "--range", "2,0.4", "-o", "link.csv", "-q"}).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.csv"));
  EXPECT_EQ(Lines(ReadFile(dir / "real.csv")).size(), 11u);

  // A new file gets the permissions the umask allows, not a temporary's.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat info {};
  ASSERT_EQ(::stat((dir / "real.csv").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);

  // A pipe is written in place, not replaced by a file.
  const fs::path fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string piped;
  std::thread reader([&] { piped = ReadFile(fifo); });
  const Result r = Run({kSignals, "capture", "--length", "10", "--range", "2,0.4", "-o", "pipe", "-q"});
  reader.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(Lines(piped).size(), 11u);
}

// ---- capture: plots -----------------------------------------------------------

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

TEST_F(Cli, PlotsArePngAndSvgOfTheSizeAskedFor) {
  struct Case {
    std::string file;
    std::string size;
    int width, height;
  };
  for (const Case& c : {Case{"scope.png", "640x480", 640, 480}, Case{"scope.svg", "1200x500", 1200, 500},
                        Case{"default.PNG", "", 1000, 600}}) {
    SCOPED_TRACE(c.file);
    std::vector<std::string> args = {kSignals, "capture", "-o", "data.csv", "--plot", c.file, "--length", "300"};
    if (!c.size.empty()) args.insert(args.end(), {"--size", c.size});
    const Result r = Run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string bytes = ReadFile(dir / c.file);
    if (c.file.find(".svg") != std::string::npos) {
      const auto root = bytes.find("<svg");
      ASSERT_NE(root, std::string::npos);
      const std::string tag = bytes.substr(root, bytes.find('>', root) - root);
      EXPECT_NE(tag.find("width=\"" + std::to_string(c.width) + "px\""), std::string::npos) << tag;
      EXPECT_NE(tag.find("height=\"" + std::to_string(c.height) + "px\""), std::string::npos) << tag;
      // Both traces are drawn, in two different colours.
      EXPECT_NE(bytes.find("rgb(100%,84%,0%)"), std::string::npos);
      EXPECT_NE(bytes.find("rgb(0%,82%,100%)"), std::string::npos);
    } else {
      ASSERT_GT(bytes.size(), 24u);
      EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
      EXPECT_EQ(bytes.substr(12, 4), "IHDR");
      EXPECT_EQ(BigEndian32(bytes, 16), static_cast<std::uint32_t>(c.width));
      EXPECT_EQ(BigEndian32(bytes, 20), static_cast<std::uint32_t>(c.height));
      EXPECT_EQ(bytes.substr(bytes.size() - 8, 4), "IEND");
    }
  }
}

// ---- auto-ranging, notes, rates ----------------------------------------------------

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(Cli, AutoRangingSettlesInTwoShortCapturesAlsoForAnUnmeasuredTriggerChannel) {
  // A long record: the settling captures stay short and free-running.
  const std::string trace = (dir / "auto.trace").string();
  Result r = Run({kSignals, "capture", "--rate", "4000", "--length", "2400", "--progress", "-o", "a.csv"},
                 {{"RU3_PORT_TRACE", trace}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("settling the ranges"), std::string::npos) << r.err;
  // The smallest ranges that hold a 1.5 V peak and 0.25 V.
  EXPECT_NE(r.out.find("CH1 (range 2 V)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("CH2 (range 0.4 V)"), std::string::npos) << r.out;
  const std::string decoded = Decode("auto.trace");
  EXPECT_EQ(Count(decoded, "arm: acquisition started"), 3u) << decoded;  // two settling captures, the record
  EXPECT_EQ(Count(decoded, "post-trigger samples: 2400"), 0u);           // the record is 1200 + 1200
  EXPECT_NE(decoded.find("post-trigger samples: 1200"), std::string::npos);

  // Channel 2 triggers but is not measured: its range settles too, so a
  // 0.25 V sine crosses a 0.1 V level (on 80 V the hysteresis alone is 6 V).
  r = Run({"--simulate=ch2=sine,0.25,500", "capture", "--channels", "1", "--trigger", "ch2", "--level", "0.1",
           "--timeout", "20000", "--length", "200", "-o", "t.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("trigger CH2 at 0.1"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("forced"), std::string::npos) << r.out;
}

// The frequency counts periods through a band wide against noise, gives
// none for a signal without periods, and warns where the rate may alias.
TEST_F(Cli, FrequencyHoldsUnderNoiseIsNoneForNoiseAndWarnsOfAliasing) {
  struct Case {
    std::string simulate, rate;
    double hertz;  // 0: no frequency
    bool alias;
  };
  for (const Case& c : {Case{"ch1=sine,1,1000;noise=0.2", "100000", 1000, false},
                        Case{"ch1=square,0.5,250;noise=0.2", "200000", 250, false},
                        Case{"ch1=noise,0.2,0", "100000", 0, false}, Case{"ch1=sine,1,150000", "200000", 50000, true}}) {
    SCOPED_TRACE(c.simulate);
    const Result r = Run({"--simulate=" + c.simulate, "capture", "--channels", "1", "--rate", c.rate, "--length",
                          "4000", "--range", "8", "--trigger", "none", "-o", "f.csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto at = r.out.find("frequency ");
    ASSERT_NE(at, std::string::npos) << r.out;
    if (c.hertz == 0) {
      EXPECT_EQ(r.out.compare(at, 17, "frequency unknown"), 0) << r.out;
      continue;
    }
    const std::string text = r.out.substr(at + 10);
    const double value = std::stod(text) * (text.find(" kHz") < text.find(" Hz") ? 1000 : 1);
    EXPECT_NEAR(value, c.hertz, c.hertz * 0.02) << r.out;
    EXPECT_EQ(r.out.find("may be aliased") != std::string::npos, c.alias) << r.out;
  }
}

// One rule for ranges: the smallest that holds the value, none beyond the
// largest; settling spans the record, so a slow signal gets the range that
// holds its peaks; clipping on the largest range says so.
TEST_F(Cli, RangesAreTheSmallestThatHoldsAndSettleOverTheWholeRecord) {
  Result r = Run({kSignals, "capture", "--channels", "1", "--range", "3", "--length", "20", "-o", "r.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("CH1 (range 4 V)"), std::string::npos) << r.out;
  r = Run({kSignals, "capture", "--range", "100", "-o", "r.csv"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("beyond the instrument's largest range"), std::string::npos) << r.err;

  r = Run({"--simulate=ch1=sine,1,10", "capture", "--channels", "1", "--rate", "200000", "--length", "32760", "-o",
           "slow.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("CH1 (range 2 V)"), std::string::npos) << r.out;

  r = Run({"--simulate=ch1=sine,100,1000", "capture", "--channels", "1", "--length", "200", "-o", "big.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("the input exceeds the instrument's largest range"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("try a larger --range"), std::string::npos) << r.out;
}

TEST_F(Cli, ForcedTriggerClippingAndAShortRecordAreMarkedWithAHint) {
  // 1.5 V peak on the 0.4 V range, a level the signal never reaches.
  Result r =
      Run({kSignals,    "capture", "--channels", "1",   "--range", "0.4",   "--level", "0.39",  "--kind", "falling",
           "--timeout", "100",     "--length",   "500", "-o",      "c.csv", "--plot",  "c.png", "--size", "320x200"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string header = Lines(ReadFile(dir / "c.csv"))[0];
  EXPECT_NE(header.find("trigger at 0, forced"), std::string::npos) << header;
  EXPECT_NE(header.find("clipped: "), std::string::npos) << header;
  EXPECT_NE(r.out.find("(forced)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("try a larger --range"), std::string::npos) << r.out;

  r = Run({kSignals, "capture", "--channels", "1", "--range", "2", "--level", "1.9", "--timeout", "100", "--length",
           "500", "-o", "f.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("note: trigger forced"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("try a lower --level"), std::string::npos) << r.out;

  // By default the trigger waits for the pre-trigger share: the record is full.
  r = Run(
      {kSignals, "capture", "--rate", "100000", "--length", "2000", "--pre", "0.5", "--range", "2,0.4", "-o", "h.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("cut short"), std::string::npos) << r.out;
  const std::string full = ReadFile(dir / "h.csv");
  EXPECT_EQ(full.find(",,"), std::string::npos);
  EXPECT_EQ(full.find(",\n"), std::string::npos);
  // Without the hold-off the trigger comes before the pre-trigger share is
  // sampled: the share named is the one the samples taken before the trigger
  // fill. (Where the trigger falls after arming depends on the signal's
  // phase at that moment, so a second run is no check of the figure; one
  // without a pre-trigger share is never cut short.)
  r = Run({kSignals, "capture", "--rate", "100000", "--length", "2000", "--pre", "0.5", "--range", "2,0.4",
           "--no-full-pretrigger", "-o", "s.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto at = r.out.find("record cut short: the trigger came ");
  ASSERT_NE(at, std::string::npos) << r.out;
  const long after_arming = std::stol(r.out.substr(at + 35));
  const auto pre = r.out.find("--pre ", at);
  ASSERT_NE(pre, std::string::npos) << r.out;
  const double share = std::stod(r.out.substr(pre + 6));
  EXPECT_LE(share * 2000, static_cast<double>(after_arming)) << r.out;
  EXPECT_GT((share + 0.001) * 2000, static_cast<double>(after_arming)) << r.out;
  r = Run({kSignals, "capture", "--rate", "100000", "--length", "2000", "--pre", "0", "--range", "2,0.4", "-o",
           "full.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("cut short"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("without a sample"), std::string::npos) << r.out;
}

TEST_F(Cli, RateIsTheNearestTheInstrumentMakesInFewDigits) {
  struct Case {
    std::string simulate, rate, header, asked;
  };
  for (const Case& c : {Case{"--simulate", "120000", "100000 Hz", "rate 100 kHz (the nearest rate to the 120 kHz asked)"},
                        Case{"--simulate=variant=0x11", "390000", "400000 Hz", "400 kHz (the nearest"},
                        Case{"--simulate", "30000", "30769.23 Hz", "30.76923 kHz (the nearest"},
                        Case{"--simulate", "50000", "50000 Hz", "50 kHz, "}}) {
    SCOPED_TRACE(c.rate);
    const Result r = Run({c.simulate, "capture", "--rate", c.rate, "--length", "20", "--range", "2", "-o", "r.csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(Lines(ReadFile(dir / "r.csv"))[0].find("; " + c.header), std::string::npos)
        << Lines(ReadFile(dir / "r.csv"))[0];
    EXPECT_NE(r.out.find(c.asked), std::string::npos) << r.out;
  }
}

// ---- files other tools open ------------------------------------------------------------

std::uint32_t LittleEndian(const std::string& bytes, std::size_t at, std::size_t size) {
  std::uint32_t v = 0;
  for (std::size_t i = size; i-- > 0;) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

TEST_F(Cli, OneRecordSavedAsCsvSigrokSessionAndWav) {
  const Result r = Run({kSignals, "capture", "--trigger", "none", "--rate", "50000", "--length", "500", "--range",
                        "2,0.4", "-o", "r.csv", "-o", "r.sr", "-o", "r.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::array<double, 2>> csv;
  const std::vector<std::string> lines = Lines(ReadFile(dir / "r.csv"));
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const auto f = Fields(lines[i]);
    csv.push_back({std::stod(f[1]), std::stod(f[2])});
  }
  ASSERT_EQ(csv.size(), 500u);

  // WAV: two 16-bit channels at the sample rate, full scale = each range.
  const std::string wav = ReadFile(dir / "r.wav");
  ASSERT_GT(wav.size(), 44u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(wav.substr(8, 4), "WAVE");
  const auto data = wav.find("data");
  ASSERT_NE(data, std::string::npos);
  EXPECT_EQ(LittleEndian(wav, 22, 2), 2u);      // channels
  EXPECT_EQ(LittleEndian(wav, 24, 4), 50000u);  // sample rate
  EXPECT_EQ(LittleEndian(wav, 34, 2), 16u);     // bits
  ASSERT_EQ(LittleEndian(wav, data + 4, 4), 500u * 4);
  for (std::size_t i = 0; i < csv.size(); ++i) {
    for (std::size_t c = 0; c < 2; ++c) {
      const auto code = static_cast<std::int16_t>(LittleEndian(wav, data + 8 + i * 4 + c * 2, 2));
      EXPECT_EQ(code, std::lround(csv[i][c] / (c == 0 ? 2.0 : 0.4) * 32768)) << i;
    }
  }

  // sigrok-cli reads the session back with the same values.
  if (std::system("sigrok-cli --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "sigrok-cli is not installed";
  const std::string command = "cd '" + dir.string() + "' && sigrok-cli -i r.sr -O csv > back.csv 2> back.err";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(dir / "back.err");
  const std::string back = ReadFile(dir / "back.csv");
  EXPECT_NE(back.find("Samplerate: 50 kHz"), std::string::npos) << back.substr(0, 300);
  EXPECT_NE(back.find("CH1, CH2"), std::string::npos) << back.substr(0, 300);
  std::vector<std::array<double, 2>> values;
  for (const std::string& line : Lines(back)) {
    const auto f = Fields(line);
    if (f.size() != 2 || line[0] == ';') continue;
    char* end = nullptr;
    const double a = std::strtod(f[0].c_str(), &end);
    if (*end != '\0') continue;  // the units line
    values.push_back({a, std::stod(f[1])});
  }
  ASSERT_EQ(values.size(), csv.size());
  for (std::size_t i = 0; i < csv.size(); ++i) {
    EXPECT_NEAR(values[i][0], csv[i][0], 1e-5) << i;
    EXPECT_NEAR(values[i][1], csv[i][1], 1e-5) << i;
  }
}

}  // namespace

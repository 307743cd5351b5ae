#include "capture_command.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "capture.h"
#include "csv.h"
#include "failure.h"
#include "output_file.h"
#include "plot.h"
#include "progress.h"
#include "record_files.h"
#include "summary.h"

namespace ru3cli {

namespace {

PlotSize ParseSize(const std::string& text) {
  int width = 0, height = 0;
  char x = 0, rest = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &width, &x, &height, &rest) != 3 || (x != 'x' && x != 'X')) {
    throw Failure("--size \"" + text + "\": expected WIDTHxHEIGHT in pixels, e.g. 1000x600", kExitUsage);
  }
  if (width < 200 || height < 150 || width > 10000 || height > 10000) {
    throw Failure("--size " + text + ": from 200x150 to 10000x10000 pixels", kExitUsage);
  }
  return {width, height};
}

// "capture.csv" -> "capture-3.csv" for the third of several captures.
std::string Numbered(const std::string& path, long n, long count) {
  if (count == 1) return path;
  const auto slash = path.rfind('/');
  const auto dot = path.rfind('.');
  const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string stem = has_extension ? path.substr(0, dot) : path;
  const std::string extension = has_extension ? path.substr(dot) : "";
  return stem + "-" + std::to_string(n) + extension;
}

// Whether two names reach the same file (also through links or "./").
bool SameFile(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code error;
  const auto ca = fs::weakly_canonical(fs::absolute(a, error), error).lexically_normal();
  if (error) return a == b;
  const auto cb = fs::weakly_canonical(fs::absolute(b, error), error).lexically_normal();
  if (error) return a == b;
  return ca == cb;
}

void WriteRecord(const Record& record, OutputFile& file) {
  std::string bytes;
  switch (RecordFormatOf(file.path())) {
    case RecordFormat::kCsv:
      WriteCsv(file.stream(), record, file.path());
      return;
    case RecordFormat::kSigrok:
      bytes = SigrokSession(record);
      break;
    case RecordFormat::kWav:
      bytes = WavFile(record);
      break;
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), file.stream()) != bytes.size()) {
    throw Failure("cannot write " + file.path());
  }
}

}  // namespace

CLI::App* AddCaptureCommand(CLI::App& app, CaptureOptions& o) {
  CLI::App* capture = app.add_subcommand("capture", "measure once (or --count times), save the record and plot it");
  AddAcquisitionOptions(*capture, o.acquisition);
  capture
      ->add_option("-o,--output", o.outputs,
                   "record file: NAME.csv (any other name too), NAME.sr (sigrok session) or NAME.wav; - for CSV on "
                   "standard output (the default); once per file to save the record in several")
      ->type_name("FILE")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
  capture->add_option("--plot", o.plot, "draw the record into FILE.png or FILE.svg")->type_name("FILE");
  capture->add_option("--size", o.size, "plot size in pixels (default 1000x600)")->type_name("WxH");
  capture->add_option("--count", o.count, "number of captures, each saved (NAME-1.csv, ...) (default 1)")
      ->type_name("N");
  capture->add_flag("--average", o.average, "save the mean of the --count captures instead");
  capture->add_flag("-q,--quiet", o.quiet, "no summary");
  capture->add_flag("--progress", o.progress, "show progress even when standard error is no terminal");
  return capture;
}

int RunCapture(const GlobalOptions& global, const CaptureOptions& options) {
  const Acquisition acquisition = ParseAcquisition(options.acquisition);
  long count = 1;
  if (!options.count.empty()) {
    const double value = ParseNumber("--count", options.count);
    if (value < 1 || value > 100000 || value != std::floor(value)) {
      throw Failure("--count " + options.count + ": a whole number of captures, at least 1", kExitUsage);
    }
    count = static_cast<long>(value);
  } else if (options.average) {
    throw Failure("--average needs --count N: the mean of how many captures?", kExitUsage);
  }
  std::vector<std::string> outputs;
  bool to_stdout = options.outputs.empty();
  for (const std::string& path : options.outputs) {
    if (path == "-") {
      to_stdout = true;
      continue;
    }
    for (const std::string& other : outputs) {
      if (SameFile(path, other)) throw Failure("-o names " + path + " twice", kExitUsage);
    }
    outputs.push_back(path);
  }
  const long results = options.average ? 1 : count;
  std::optional<PlotFormat> format;
  if (!options.size.empty() && options.plot.empty()) {
    throw Failure("--size " + options.size + " has no use without --plot FILE", kExitUsage);
  }
  const PlotSize size = options.size.empty() ? PlotSize{} : ParseSize(options.size);
  if (!options.plot.empty()) {
    format = PlotFormatOf(options.plot);
    for (const std::string& path : outputs) {
      if (SameFile(path, options.plot)) {
        throw Failure("-o and --plot both name " + options.plot + ": give the record and the plot a file each",
                      kExitUsage);
      }
    }
  }

  // Every output file is opened before measuring: an unwritable one is
  // reported at once, and none is left half-written.
  std::vector<std::vector<OutputFile>> record_files(static_cast<std::size_t>(results));
  std::vector<OutputFile> plot_files;
  for (long i = 1; i <= results; ++i) {
    for (const std::string& path : outputs) {
      record_files[static_cast<std::size_t>(i - 1)].emplace_back(Numbered(path, i, results));
    }
    if (format) plot_files.emplace_back(Numbered(options.plot, i, results));
  }

  InstallInterruptHandler();
  Session session(global);
  ApplyAcquisition(acquisition);
  std::vector<Record> records;
  {
    Progress progress(options.progress || ::isatty(STDERR_FILENO) != 0);
    SettleRanges(acquisition, progress);
    for (long i = 1; i <= count; ++i) {
      if (count > 1) progress.Prefix("capture " + std::to_string(i) + " of " + std::to_string(count) + ": ");
      records.push_back(Measure(acquisition, progress));
    }
  }
  session.Close();
  if (options.average) records = {Average(records)};

  std::FILE* summary = to_stdout ? stderr : stdout;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Record& record = records[i];
    if (to_stdout) {
      if (i > 0) std::fputc('\n', stdout);
      WriteCsv(stdout, record, "standard output");
    }
    std::string files;
    for (OutputFile& file : record_files[i]) {
      WriteRecord(record, file);
      file.Commit();
      files += (files.empty() ? "" : ", ") + file.path();
    }
    if (format) {
      DrawPlot(record, *format, size, plot_files[i]);
      plot_files[i].Commit();
    }
    if (!options.quiet) {
      std::string title = records.size() > 1 ? "capture " + std::to_string(i + 1) : "capture";
      if (format) files += (files.empty() ? "" : ", ") + plot_files[i].path();
      if (!files.empty()) title += " -> " + files;
      PrintSummary(summary, record, title);
    }
  }
  return kExitOk;
}

}  // namespace ru3cli

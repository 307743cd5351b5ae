// Output files that appear whole or not at all: everything is written to a
// temporary file in the destination's directory, which replaces the
// destination only when the writer commits it. Devices and pipes are written
// in place.
#pragma once

#include <cstdio>
#include <string>

namespace ru3cli {

class OutputFile {
 public:
  // Creates the temporary file at once, so that an unwritable destination is
  // reported before any work is done. Throws Failure.
  explicit OutputFile(std::string path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;

  const std::string& path() const { return path_; }
  // The open temporary file, for writers that take a stream.
  std::FILE* stream();

  // Flushes, closes and renames the temporary file over the destination.
  // Throws Failure (and removes the temporary file) when any step fails.
  void Commit();

 private:
  void Discard() noexcept;

  std::string path_;
  std::string target_;     // the file the temporary one replaces
  std::string temporary_;  // empty when writing in place (devices, pipes)
  std::FILE* stream_ = nullptr;
  bool committed_ = false;
};

}  // namespace ru3cli

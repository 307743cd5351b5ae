#include "record_files.h"

#include <sndfile.h>
#include <zip.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "failure.h"
#include "format.h"

namespace ru3cli {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Both formats carry the rate as a whole number of hertz.
long WholeHertz(double rate) { return std::max(1L, std::lround(rate)); }

struct ArchiveDeleter {
  void operator()(zip_t* z) const { zip_discard(z); }
};

[[noreturn]] void ZipFailure(zip_error_t* error) {
  const std::string what = zip_error_strerror(error);
  zip_error_fini(error);
  throw Failure("cannot build the sigrok session file: " + what);
}

// A WAV file grows in a string: libsndfile's virtual I/O over it.
struct Memory {
  std::string bytes;
  sf_count_t at = 0;
};

sf_count_t MemoryLength(void* m) { return static_cast<sf_count_t>(static_cast<Memory*>(m)->bytes.size()); }
sf_count_t MemorySeek(sf_count_t offset, int whence, void* m) {
  Memory& memory = *static_cast<Memory*>(m);
  const sf_count_t base = whence == SEEK_CUR ? memory.at : whence == SEEK_END ? MemoryLength(m) : 0;
  memory.at = std::max<sf_count_t>(0, base + offset);
  return memory.at;
}
sf_count_t MemoryRead(void* data, sf_count_t count, void* m) {
  Memory& memory = *static_cast<Memory*>(m);
  const sf_count_t n = std::clamp<sf_count_t>(MemoryLength(m) - memory.at, 0, count);
  std::memcpy(data, memory.bytes.data() + memory.at, static_cast<std::size_t>(n));
  memory.at += n;
  return n;
}
sf_count_t MemoryWrite(const void* data, sf_count_t count, void* m) {
  Memory& memory = *static_cast<Memory*>(m);
  const auto end = static_cast<std::size_t>(memory.at + count);
  if (memory.bytes.size() < end) memory.bytes.resize(end);
  std::memcpy(memory.bytes.data() + memory.at, data, static_cast<std::size_t>(count));
  memory.at += count;
  return count;
}
sf_count_t MemoryTell(void* m) { return static_cast<Memory*>(m)->at; }

}  // namespace

RecordFormat RecordFormatOf(const std::string& path) {
  const std::string lower = Lower(path);
  if (EndsWith(lower, ".sr")) return RecordFormat::kSigrok;
  if (EndsWith(lower, ".wav")) return RecordFormat::kWav;
  return RecordFormat::kCsv;
}

std::string SigrokSession(const Record& record) {
  // The archive: "version", "metadata" (an INI file naming the channels and
  // the rate), and per channel N the little-endian 32-bit floats of its
  // volts in "analog-1-N-1". Positions without a sample are NaN.
  std::string metadata = "[global]\nsigrok version=0.5.2\n\n[device 1]\ndriver=ru3\nsamplerate=" +
                         std::to_string(WholeHertz(record.sample_rate)) +
                         "\ntotal probes=0\ntotal analog=" + std::to_string(record.channels.size()) + "\n";
  std::vector<std::vector<float>> data;
  for (std::size_t i = 0; i < record.channels.size(); ++i) {
    metadata += "analog" + std::to_string(i + 1) + "=CH" + std::to_string(record.channels[i].number) + "\n";
    const std::vector<double>& volts = record.channels[i].volts;
    data.emplace_back(volts.begin(), volts.end());
  }
  static_assert(sizeof(float) == 4, "sigrok stores 32-bit floats");

  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  if (buffer == nullptr) ZipFailure(&error);
  zip_source_keep(buffer);
  std::unique_ptr<zip_source_t, decltype(&zip_source_free)> keep(buffer, zip_source_free);
  std::unique_ptr<zip_t, ArchiveDeleter> archive(zip_open_from_source(buffer, ZIP_TRUNCATE, &error));
  if (!archive) ZipFailure(&error);
  const std::string version = "2";
  auto add = [&](const std::string& name, const void* bytes, std::size_t size) {
    zip_source_t* source = zip_source_buffer(archive.get(), bytes, size, 0);
    if (source == nullptr || zip_file_add(archive.get(), name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
      if (source != nullptr) zip_source_free(source);
      throw Failure(std::string("cannot build the sigrok session file: ") + zip_strerror(archive.get()));
    }
  };
  add("version", version.data(), version.size());
  add("metadata", metadata.data(), metadata.size());
  for (std::size_t i = 0; i < data.size(); ++i) {
    add("analog-1-" + std::to_string(i + 1) + "-1", data[i].data(), data[i].size() * sizeof(float));
  }
  if (zip_close(archive.get()) != 0) {
    throw Failure(std::string("cannot build the sigrok session file: ") + zip_strerror(archive.get()));
  }
  (void)archive.release();  // zip_close freed it

  zip_stat_t stat;
  if (zip_source_stat(buffer, &stat) != 0 || zip_source_open(buffer) != 0) {
    throw Failure("cannot build the sigrok session file: the archive cannot be read back");
  }
  std::string bytes(static_cast<std::size_t>(stat.size), '\0');
  const zip_int64_t n = zip_source_read(buffer, bytes.data(), stat.size);
  zip_source_close(buffer);
  if (n != static_cast<zip_int64_t>(stat.size)) throw Failure("cannot build the sigrok session file: short read");
  return bytes;
}

std::string WavFile(const Record& record) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(WholeHertz(record.sample_rate));
  info.channels = static_cast<int>(record.channels.size());
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  Memory memory;
  SF_VIRTUAL_IO io{MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};
  SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
  if (file == nullptr) throw Failure(std::string("cannot build the WAV file: ") + sf_strerror(nullptr));
  std::string comment = "RU3 record, " + Quantity(record.sample_rate, "Hz") + "; full scale:";
  for (const Channel& ch : record.channels)
    comment += " CH" + std::to_string(ch.number) + " " + Quantity(ch.range, "V");
  sf_set_string(file, SF_STR_COMMENT, comment.c_str());
  // Interleaved frames; a volt value becomes its sample code (full scale
  // 32768), positions without a sample silence.
  const std::size_t n = record.length();
  std::vector<short> frames(n * record.channels.size());
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t c = 0; c < record.channels.size(); ++c) {
      const Channel& ch = record.channels[c];
      const double v = ch.volts[i];
      const double code = std::isnan(v) || ch.range <= 0 ? 0 : std::round(v / ch.range * 32768);
      frames[i * record.channels.size() + c] = static_cast<short>(std::clamp(code, -32768.0, 32767.0));
    }
  }
  const sf_count_t written = sf_writef_short(file, frames.data(), static_cast<sf_count_t>(n));
  const int closed = sf_close(file);
  if (written != static_cast<sf_count_t>(n) || closed != 0) throw Failure("cannot build the WAV file");
  return memory.bytes;
}

}  // namespace ru3cli

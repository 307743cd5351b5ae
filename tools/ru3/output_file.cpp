#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "failure.h"

namespace ru3cli {

namespace {

std::string Reason() { return std::strerror(errno); }

// The directory part of `path` with a trailing slash, or "" for the current
// directory.
std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  if (path_.empty()) throw Failure("an output file name is empty", kExitUsage);
  std::string target = path_;
  struct stat info {};
  if (::stat(path_.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) throw Failure("cannot write " + path_ + ": it is a directory", kExitFailure);
    if (!S_ISREG(info.st_mode)) {
      // A device or a pipe (/dev/null, /dev/stdout) is written in place:
      // renaming over it would replace it.
      stream_ = std::fopen(path_.c_str(), "w");
      if (stream_ == nullptr) throw Failure("cannot write " + path_ + ": " + Reason(), kExitFailure);
      return;
    }
    // Through a symbolic link, replace the file it points to, not the link.
    if (char* resolved = ::realpath(path_.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  target_ = target;
  const std::string name = target.substr(DirectoryOf(target).size());
  const std::string pattern = DirectoryOf(target) + "." + name + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = ::mkstemp(buffer.data());
  if (fd < 0) throw Failure("cannot write " + path_ + ": " + Reason(), kExitFailure);
  temporary_ = buffer.data();
  // mkstemp makes the file private; give it the permissions a new file gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  (void)::fchmod(fd, 0666 & ~mask);
  stream_ = ::fdopen(fd, "w");
  if (stream_ == nullptr) {
    const std::string reason = Reason();
    ::close(fd);
    ::unlink(temporary_.c_str());
    throw Failure("cannot write " + path_ + ": " + reason, kExitFailure);
  }
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)),
      target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      stream_(std::exchange(other.stream_, nullptr)),
      committed_(std::exchange(other.committed_, true)) {}

OutputFile::~OutputFile() {
  if (!committed_) Discard();
}

std::FILE* OutputFile::stream() { return stream_; }

void OutputFile::Discard() noexcept {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  committed_ = true;
}

void OutputFile::Commit() {
  if (committed_) return;
  bool ok = true;
  std::string reason;
  if (stream_ != nullptr) {
    if (std::fflush(stream_) != 0 || std::ferror(stream_) != 0) {
      ok = false;
      reason = Reason();
    }
    if (std::fclose(stream_) != 0 && ok) {
      ok = false;
      reason = Reason();
    }
    stream_ = nullptr;
  }
  if (ok && !temporary_.empty() && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
    ok = false;
    reason = Reason();
  }
  if (!ok) {
    Discard();
    throw Failure("cannot write " + path_ + ": " + reason, kExitFailure);
  }
  committed_ = true;
}

}  // namespace ru3cli

#include "base/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zorvane {

namespace {

std::string Directory(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The canonical form of a path whose last component need not exist: the folder resolved,
// the name kept. Empty when the folder cannot be resolved.
std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  if (::realpath(Directory(path).c_str(), resolved) == nullptr) return {};
  std::string folder = resolved;
  if (folder != "/") folder += '/';
  return folder + BaseName(path);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, off_t offset, bool positioned,
              int* error) {
  while (size > 0) {
    const ssize_t n = positioned ? ::pwrite(fd, data, size, offset) : ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return false;
    }
    if (n == 0) {
      *error = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

}  // namespace

OutputFile::~OutputFile() {
  Abandon();
}

bool OutputFile::Create(const std::string& target, int* error) {
  Abandon();
  written_ = 0;
  if (target.empty() || target.back() == '/') {
    *error = EISDIR;
    return false;
  }
  // A link is followed, so that the file it names is replaced and the link stays.
  std::string path = target;
  char resolved[PATH_MAX];
  struct stat info {};
  if (::lstat(target.c_str(), &info) == 0 && S_ISLNK(info.st_mode) &&
      ::realpath(target.c_str(), resolved) != nullptr) {
    path = resolved;
  }
  target_existed_ = false;
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      *error = EISDIR;
      return false;
    }
    // A device or a FIFO is never renamed over.
    if (!S_ISREG(info.st_mode)) {
      *error = ENODEV;
      return false;
    }
    target_existed_ = true;
  }
  static std::atomic<unsigned> counter{0};
  const std::string folder = Directory(path);
  const std::string name = BaseName(path);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[48];
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    std::snprintf(suffix, sizeof suffix, ".%d.%u.%llx", static_cast<int>(::getpid()),
                  counter.fetch_add(1), static_cast<unsigned long long>(ticks) & 0xFFFFFFu);
    std::string candidate = folder;
    candidate.append("/.").append(name).append(suffix);
    // Created with the mode an ordinary new file gets (the umask applies).
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fd_ = fd;
      target_ = path;
      temporary_ = std::move(candidate);
      return true;
    }
    if (errno != EEXIST) {
      *error = errno;
      return false;
    }
  }
  *error = EEXIST;
  return false;
}

bool OutputFile::Write(const void* data, std::size_t size, int* error) {
  if (!WriteAll(fd_, static_cast<const std::uint8_t*>(data), size, 0, false, error)) return false;
  written_ += static_cast<std::int64_t>(size);
  return true;
}

bool OutputFile::WriteAt(off_t offset, const void* data, std::size_t size, int* error) {
  return WriteAll(fd_, static_cast<const std::uint8_t*>(data), size, offset, true, error);
}

bool OutputFile::CloseFile(int* error) {
  const int fd = fd_;
  fd_ = -1;
  if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) {
    *error = errno;
    return false;
  }
  return true;
}

bool OutputFile::Commit(int* error) {
  if (temporary_.empty()) {
    *error = EBADF;
    return false;
  }
  bool done = true;
  if (target_existed_ && ::fdatasync(fd_) != 0) {
    *error = errno;
    done = false;
  }
  if (!CloseFile(error)) done = false;
  if (done && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
    *error = errno;
    done = false;
  }
  if (!done) ::unlink(temporary_.c_str());
  temporary_.clear();
  return done;
}

std::string OutputFile::KeepPartial(int* error) {
  if (temporary_.empty()) return {};
  int ignored = 0;
  struct stat info {};
  const bool empty = fd_ >= 0 ? ::fstat(fd_, &info) == 0 && info.st_size == 0 : written_ == 0;
  CloseFile(&ignored);
  std::string part = target_ + ".part";
  if (empty || ::rename(temporary_.c_str(), part.c_str()) != 0) {
    if (!empty) *error = errno;
    ::unlink(temporary_.c_str());
    part.clear();
  }
  temporary_.clear();
  return part;
}

void OutputFile::Abandon() {
  int ignored = 0;
  CloseFile(&ignored);
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

std::string OutputConflict(const std::string& output, const std::vector<std::string>& sources) {
  const std::string out = Canonical(output);
  struct stat out_info {};
  const bool out_exists = ::stat(output.c_str(), &out_info) == 0;
  // "OUTPUT is the source SOURCE" and the like.
  const auto sentence = [&output](const char* relation, const std::string& source) {
    std::string text = output;
    text.append(relation).append(source);
    return text;
  };
  for (const std::string& source : sources) {
    struct stat info {};
    if (out_exists && ::stat(source.c_str(), &info) == 0 && info.st_dev == out_info.st_dev &&
        info.st_ino == out_info.st_ino) {
      return sentence(" is the source ", source);
    }
    std::string folder = Canonical(source);
    if (out.empty() || folder.empty()) continue;
    if (out == folder) return sentence(" is the source ", source);
    if (folder != "/") folder += '/';
    if (out.compare(0, folder.size(), folder) == 0)
      return sentence(" lies inside the source ", source);
  }
  return {};
}

int OpenInputFile(const std::string& path, std::int64_t* size, std::string* reason) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *reason = path + ": " + std::strerror(errno);
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    *reason = path + ": " + std::strerror(errno);
  } else if (S_ISDIR(info.st_mode)) {
    *reason = path + " is a folder, not an image file";
  } else if (!S_ISREG(info.st_mode)) {
    *reason = path + " is not a regular file (a device, FIFO or socket)";
  } else if (info.st_size == 0) {
    *reason = path + " is empty";
  } else {
    // Reads of a regular file never block; the flag goes so that nothing else sees it.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *size = info.st_size;
    return fd;
  }
  ::close(fd);
  return -1;
}

}  // namespace zorvane

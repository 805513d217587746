#include "vdrive/sector_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zorvane::vdrive {

namespace {

bool WriteAt(int fd, const std::uint8_t* data, std::size_t size, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadAt(int fd, std::uint8_t* out, std::size_t size, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

constexpr std::size_t kAppendBuffer = 256 * 1024;

std::string Reason(const std::string& path, const char* what) {
  return "sector file " + path + ": " + what + ": " + std::strerror(errno);
}

}  // namespace

SectorStore::SectorStore(int fd, std::string path, bool temporary)
    : fd_(fd), path_(std::move(path)), temporary_(temporary) {}

SectorStore::~SectorStore() {
  if (fd_ >= 0) ::close(fd_);
}

std::shared_ptr<SectorStore> SectorStore::CreateTemporary(std::string* error) {
  const char* folder = std::getenv("TMPDIR");
  std::string name = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
                     "/zorvane-vdrive-XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    *error = Reason(name, "cannot create");
    return nullptr;
  }
  ::unlink(name.c_str());  // gone with the last descriptor
  return std::shared_ptr<SectorStore>(new SectorStore(fd, "", true));
}

std::shared_ptr<SectorStore> SectorStore::Create(const std::string& path, std::string* error) {
  // Readable by its owner alone, as the state file that lists its sectors.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = Reason(path, "cannot create");
    return nullptr;
  }
  return std::shared_ptr<SectorStore>(new SectorStore(fd, path, false));
}

std::shared_ptr<SectorStore> SectorStore::Open(const std::string& path, ExtentMap extents,
                                               std::string* error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    *error = Reason(path, "cannot open");
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  std::shared_ptr<SectorStore> store(new SectorStore(fd, path, false));
  if (!S_ISREG(info.st_mode)) {
    *error = "sector file " + path + ": not a regular file";
    return nullptr;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  std::int64_t previous_end = INT64_MIN;
  for (const auto& [lba, extent] : extents) {
    const std::uint64_t bytes = std::uint64_t{extent.count} * extent.size;
    if (lba < previous_end || extent.offset > size || bytes > size - extent.offset) {
      *error = "sector file " + path + ": does not hold the sectors its state file lists";
      return nullptr;
    }
    previous_end = std::int64_t{lba} + extent.count;
  }
  store->extents_ = std::move(extents);
  // Whatever the file holds is taken as committed: new blocks go after it.
  store->end_ = size;
  store->committed_ = size;
  return store;
}

std::uint64_t SectorStore::LiveBytes() const {
  std::uint64_t bytes = 0;
  for (const auto& [lba, extent] : extents_) bytes += std::uint64_t{extent.count} * extent.size;
  return bytes;
}

bool SectorStore::Load(std::uint8_t* out, std::size_t size, std::uint64_t offset) const {
  const std::uint64_t flushed = end_ - pending_.size();
  if (offset + size > end_) return false;
  if (offset < flushed) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size, flushed - offset));
    if (!ReadAt(fd_, out, n, offset)) return false;
    out += n;
    size -= n;
    offset += n;
  }
  if (size > 0) std::memcpy(out, pending_.data() + (offset - flushed), size);
  return true;
}

bool SectorStore::Store(const std::uint8_t* data, std::size_t size, std::uint64_t offset) {
  const std::uint64_t flushed = end_ - pending_.size();
  if (offset < flushed) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size, flushed - offset));
    if (!WriteAt(fd_, data, n, offset)) return false;
    data += n;
    size -= n;
    offset += n;
  }
  if (size > 0) std::memcpy(pending_.data() + (offset - flushed), data, size);
  return true;
}

bool SectorStore::Append(const std::uint8_t* data, std::size_t size) {
  if (pending_.capacity() < kAppendBuffer) pending_.reserve(kAppendBuffer);
  while (size > 0) {
    if (pending_.size() == kAppendBuffer && !Flush()) return false;
    const std::size_t n = std::min(size, kAppendBuffer - pending_.size());
    pending_.insert(pending_.end(), data, data + n);
    end_ += n;
    data += n;
    size -= n;
  }
  return pending_.size() < kAppendBuffer || Flush();
}

bool SectorStore::Flush() {
  if (pending_.empty()) return true;
  if (!WriteAt(fd_, pending_.data(), pending_.size(), end_ - pending_.size())) return false;
  pending_.clear();
  return true;
}

void SectorStore::Cut(std::int32_t first, std::int32_t end) {
  if (first >= end) return;
  auto it = extents_.upper_bound(first);
  if (it != extents_.begin()) --it;
  while (it != extents_.end() && it->first < end) {
    const std::int32_t start = it->first;
    const Extent extent = it->second;
    const std::int64_t stop = std::int64_t{start} + extent.count;
    if (stop <= first) {
      ++it;
      continue;
    }
    it = extents_.erase(it);
    if (start < first) {
      extents_[start] = {static_cast<std::uint32_t>(first - start), extent.size, extent.offset};
    }
    if (stop > end) {
      const auto skipped = static_cast<std::uint32_t>(end - start);
      extents_[end] = {static_cast<std::uint32_t>(stop - end), extent.size,
                       extent.offset + std::uint64_t{skipped} * extent.size};
      break;
    }
  }
}

bool SectorStore::Write(std::int32_t lba, std::uint32_t count, std::uint32_t size,
                        const std::uint8_t* data) {
  if (count == 0) return true;
  const std::uint64_t bytes = std::uint64_t{count} * size;
  // Blocks not committed yet are written over where they lie.
  auto it = extents_.upper_bound(lba);
  if (it != extents_.begin()) {
    const auto& [start, extent] = *std::prev(it);
    if (extent.size == size && std::int64_t{start} + extent.count >= std::int64_t{lba} + count) {
      const std::uint64_t offset = extent.offset + std::uint64_t(lba - start) * size;
      if (temporary_ || offset >= committed_) return Store(data, bytes, offset);
    }
  }
  const std::uint64_t offset = end_;
  if (!Append(data, bytes)) return false;
  Cut(lba, static_cast<std::int32_t>(std::int64_t{lba} + count));
  // One extent for a run written in order.
  it = extents_.lower_bound(lba);
  if (it != extents_.begin()) {
    auto& [start, before] = *std::prev(it);
    if (before.size == size && std::int64_t{start} + before.count == lba &&
        before.offset + std::uint64_t{before.count} * size == offset) {
      before.count += count;
      return true;
    }
  }
  extents_[lba] = {count, size, offset};
  return true;
}

std::size_t SectorStore::Read(std::int32_t lba, std::uint8_t* out, std::size_t room) const {
  auto it = extents_.upper_bound(lba);
  if (it == extents_.begin()) return 0;
  --it;
  const auto& [start, extent] = *it;
  if (std::int64_t{start} + extent.count <= lba) return 0;
  const std::size_t size = std::min<std::size_t>(extent.size, room);
  const std::uint64_t offset = extent.offset + std::uint64_t(lba - start) * extent.size;
  return Load(out, size, offset) ? size : 0;
}

void SectorStore::Erase(std::int32_t first, std::int32_t end) {
  Cut(first, end);
}

bool SectorStore::Commit(std::string* error) {
  if (committed_ == end_ && !temporary_) return true;
  if (!Flush()) {
    *error = Reason(path_, "cannot write");
    return false;
  }
  if (!temporary_ && ::fdatasync(fd_) != 0) {
    *error = Reason(path_, "cannot sync");
    return false;
  }
  committed_ = end_;
  return true;
}

std::shared_ptr<SectorStore> SectorStore::CompactInto(const std::string& path,
                                                      std::string* error) const {
  std::shared_ptr<SectorStore> fresh = Create(path, error);
  if (!fresh) return nullptr;
  constexpr std::size_t kPiece = 1 << 20;
  std::vector<std::uint8_t> piece(kPiece);
  for (const auto& [lba, extent] : extents_) {
    const std::uint64_t bytes = std::uint64_t{extent.count} * extent.size;
    const std::uint64_t offset = fresh->end_;
    for (std::uint64_t done = 0; done < bytes;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, bytes - done));
      if (!Load(piece.data(), n, extent.offset + done) ||
          !WriteAt(fresh->fd_, piece.data(), n, offset + done)) {
        *error = Reason(path, "cannot copy the sectors");
        ::unlink(path.c_str());
        return nullptr;
      }
      done += n;
    }
    fresh->end_ += bytes;
    fresh->extents_[lba] = {extent.count, extent.size, offset};
  }
  if (::fsync(fresh->fd_) != 0) {
    *error = Reason(path, "cannot sync");
    ::unlink(path.c_str());
    return nullptr;
  }
  fresh->committed_ = fresh->end_;
  return fresh;
}

}  // namespace zorvane::vdrive

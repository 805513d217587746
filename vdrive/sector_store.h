// The sectors the host wrote, kept on disk: a data file that takes each write at its end,
// and the map of extents (runs of blocks) that says where each written block lies. Only
// the map is held in memory, so a disc of any size costs a few kilobytes of it.
//
// Appended blocks gather in a buffer of 256 KiB that goes to the file in one write when it
// fills and at a commit: a host's 62 KB writes would otherwise each start and end inside a
// page of the file, and the kernel takes a partial page much more slowly than a whole one.
// Reads and writes over blocks still in the buffer see and change it there.
//
// Committed blocks are never written over: a later write of the same blocks goes to the
// end of the file and the map moves on to it. A state file that records the map at a
// commit therefore always finds its blocks as they were, whatever happened after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zorvane::vdrive {

class SectorStore {
 public:
  struct Extent {
    std::uint32_t count = 0;   // blocks
    std::uint32_t size = 0;    // bytes kept of each block
    std::uint64_t offset = 0;  // where the first block lies in the data file
  };
  using ExtentMap = std::map<std::int32_t, Extent>;  // by first block, never overlapping

  // A store in an unlinked temporary file (a drive without a state file).
  static std::shared_ptr<SectorStore> CreateTemporary(std::string* error);
  // A new, empty data file at `path`; fails when something is there already.
  static std::shared_ptr<SectorStore> Create(const std::string& path, std::string* error);
  // The data file at `path` with the extents a state file recorded; fails when the file is
  // missing or does not hold them.
  static std::shared_ptr<SectorStore> Open(const std::string& path, ExtentMap extents,
                                           std::string* error);

  SectorStore(const SectorStore&) = delete;
  SectorStore& operator=(const SectorStore&) = delete;
  ~SectorStore();

  // Keeps `count` blocks of `size` bytes from block `lba`; `data` holds them one after
  // another. False (errno set) when the data file cannot take them.
  bool Write(std::int32_t lba, std::uint32_t count, std::uint32_t size, const std::uint8_t* data);

  // Copies block `lba` into `out` (at most `room` bytes) and returns the bytes kept of it:
  // 0 when the block was never written (or cannot be read back).
  std::size_t Read(std::int32_t lba, std::uint8_t* out, std::size_t room) const;

  // Forgets the blocks of [first, end), or all of them.
  void Erase(std::int32_t first, std::int32_t end);
  void Clear() { extents_.clear(); }

  // Makes what was written durable (the data file synced); blocks written so far are from
  // now on never written over.
  bool Commit(std::string* error);

  // A copy of the written blocks, packed, in a new data file at `path`, committed.
  std::shared_ptr<SectorStore> CompactInto(const std::string& path, std::string* error) const;

  const ExtentMap& Extents() const { return extents_; }
  const std::string& Path() const { return path_; }  // empty for a temporary store
  std::uint64_t FileBytes() const { return end_; }
  std::uint64_t LiveBytes() const;

 private:
  SectorStore(int fd, std::string path, bool temporary);
  // Removes [first, end) from the map, splitting the extents it cuts.
  void Cut(std::int32_t first, std::int32_t end);
  // The data file's bytes at `offset` as they stand, the buffer's part included.
  bool Load(std::uint8_t* out, std::size_t size, std::uint64_t offset) const;
  bool Store(const std::uint8_t* data, std::size_t size, std::uint64_t offset);
  bool Append(const std::uint8_t* data, std::size_t size);
  bool Flush();

  int fd_ = -1;
  std::string path_;
  bool temporary_ = false;
  ExtentMap extents_;
  std::uint64_t end_ = 0;  // where the next appended block goes
  std::vector<std::uint8_t>
      pending_;                  // the bytes of [end_ - pending_.size(), end_), not yet written
  std::uint64_t committed_ = 0;  // blocks below this offset belong to a committed disc
};

}  // namespace zorvane::vdrive

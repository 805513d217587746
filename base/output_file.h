// Files the jobs write and read. An output is written under a temporary name in the target's
// folder and renamed over the target only when the job succeeded, so an existing file is
// never truncated, replaced or removed by a job that fails or is stopped; a failed read can
// keep what it got as NAME.part. Inputs are opened read-only without blocking and must be
// non-empty regular files.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zorvane {

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // An output neither committed nor kept is removed.
  ~OutputFile();

  // Creates the temporary file beside `target` (through a symbolic link, beside the file it
  // names). Refuses a target that exists and is not a regular file. False with the system's
  // error in *error (EISDIR, ENODEV for a device or FIFO, or what open gave).
  bool Create(const std::string& target, int* error);

  // Every byte is written or the call fails: partial writes are continued, and a write that
  // takes nothing counts as a full device.
  bool Write(const void* data, std::size_t size, int* error);
  bool WriteAt(off_t offset, const void* data, std::size_t size, int* error);

  // Closes the file and renames it over the target. Replacing an existing file syncs the new
  // one first, so that a crash leaves either the old file or the whole new one. On failure
  // the temporary file is removed and the target is untouched.
  bool Commit(int* error);
  // Closes the file and renames it to TARGET.part (replacing an older one); an empty file is
  // removed instead. The name kept, or empty.
  std::string KeepPartial(int* error);
  // Closes and removes the temporary file.
  void Abandon();

  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  std::int64_t Written() const { return written_; }
  const std::string& Target() const { return target_; }
  const std::string& TemporaryPath() const { return temporary_; }

 private:
  bool CloseFile(int* error);

  int fd_ = -1;
  bool target_existed_ = false;
  std::int64_t written_ = 0;
  std::string target_;
  std::string temporary_;
};

// Why `output` may not be written while `sources` are read: it is one of them or lies inside
// a source folder. Empty when it may. Paths are compared after resolving links, and an
// existing output also by device and inode.
std::string OutputConflict(const std::string& output, const std::vector<std::string>& sources);

// Opens an input read-only without blocking (a FIFO never stalls the job) and checks that it
// is a regular file with at least one byte. The descriptor, or -1 with a sentence that names
// the path and the reason in *reason.
int OpenInputFile(const std::string& path, std::int64_t* size, std::string* reason);

}  // namespace zorvane

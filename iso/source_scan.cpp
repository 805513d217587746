#include "iso/source_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <utility>

namespace zorvane {

namespace {

// Folders a walk keeps open at once, one per level of the tree.
constexpr std::size_t kOpenLevels = 64;

// What a walk says about a folder it could not read.
constexpr const char* kCannotList = "Cannot list %s: %s (error %d)\n";
constexpr const char* kReadingStopped = "Reading %s stopped: %s (error %d)\n";

std::string Join(const std::string& folder, const char* name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// A folder opened for reading, closed on scope exit.
class OpenFolder {
 public:
  // `follow` lets the path itself be a symbolic link (a dropped path); folders found in
  // the walk are opened without following one.
  OpenFolder(const std::string& path, bool follow) : OpenFolder(AT_FDCWD, path.c_str(), follow) {}
  // A folder named relative to the open folder `parent` (or AT_FDCWD).
  OpenFolder(int parent, const char* name, bool follow) {
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (!follow) flags |= O_NOFOLLOW;
    const int fd = openat(parent, name, flags);
    if (fd < 0) {
      error_ = errno;
      return;
    }
    dir_ = fdopendir(fd);
    if (dir_ == nullptr) {
      error_ = errno;
      close(fd);
    }
  }
  ~OpenFolder() { Close(); }
  void Close() {
    if (dir_ != nullptr) closedir(dir_);
    dir_ = nullptr;
  }
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;

  bool ok() const { return dir_ != nullptr; }
  int error() const { return error_; }
  DIR* dir() const { return dir_; }
  int fd() const { return dirfd(dir_); }

 private:
  DIR* dir_ = nullptr;
  int error_ = 0;
};

// Folders already visited, by device and inode: a folder reached twice (a bind mount of
// its own parent) is walked once.
class Visited {
 public:
  bool FirstVisit(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return true;
    return seen_.emplace(st.st_dev, st.st_ino).second;
  }

 private:
  std::set<std::pair<dev_t, ino_t>> seen_;
};

void AddProblem(SourceMeasure& result, const std::string& path, int error, bool reading) {
  result.problems.push_back(ScanProblem{path, error, reading});
}

}  // namespace

bool FolderQueue::PopFolder(std::string* path) {
  if (folders_.empty()) return false;
  *path = std::move(folders_.front());
  folders_.pop_front();
  return true;
}

std::string DestinationName(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return trimmed;
  return trimmed.substr(slash);
}

SourceMeasure LookUpSource(const std::string& path) {
  SourceMeasure result;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    result.error = errno;
    return result;
  }
  result.found = true;
  result.modified = st.st_mtime;
  result.folder = S_ISDIR(st.st_mode);
  if (!result.folder) {
    result.bytes = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    result.sectors = SectorsFor(result.bytes);
    result.files = 1;
  }
  return result;
}

SourceMeasure MeasureSource(const std::string& path, const std::atomic<bool>* stop,
                            const std::function<void(const std::string&)>& on_folder) {
  SourceMeasure result = LookUpSource(path);
  if (!result.found || !result.folder) return result;
  result.folders = 1;

  // Depth first, as du walks: a folder is opened relative to its parent's descriptor and
  // its entries are looked at relative to its own, so the kernel never walks a whole path
  // again. A folder's path is built once, for the callback and the problems.
  struct Level {
    std::unique_ptr<OpenFolder> folder;
    std::string path;
    std::vector<std::string> subfolders;  // still to visit, the next one last
  };
  auto stopped = [stop] { return stop != nullptr && stop->load(std::memory_order_relaxed); };
  Visited visited;
  std::vector<Level> levels;
  // Reads one folder; its subfolders wait on the stack. False when the stop flag ended it.
  auto read_folder = [&](int parent, const char* name, std::string folder_path) {
    if (on_folder) on_folder(folder_path);
    auto folder = std::make_unique<OpenFolder>(parent, name, levels.empty());
    if (!folder->ok()) {
      AddProblem(result, folder_path, folder->error(), false);
      return true;
    }
    if (!visited.FirstVisit(folder->fd())) return true;
    Level level{std::move(folder), std::move(folder_path), {}};
    const int fd = level.folder->fd();
    errno = 0;
    while (const dirent* entry = readdir(level.folder->dir())) {
      if (stopped()) return false;
      const char* entry_name = entry->d_name;
      if (IsDotOrDotDot(entry_name)) continue;
      unsigned char type = entry->d_type;
      off_t size = 0;
      if (type == DT_REG || type == DT_UNKNOWN) {
        struct stat st {};
        if (fstatat(fd, entry_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
          // An entry removed since the folder was read is simply gone.
          if (errno != ENOENT) AddProblem(result, Join(level.path, entry_name), errno, false);
          errno = 0;
          continue;
        }
        type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
        if (type == DT_REG) size = st.st_size;
      }
      if (type == DT_DIR) {
        ++result.folders;
        level.subfolders.emplace_back(entry_name);
      } else {
        ++result.files;
        result.bytes += static_cast<std::uint64_t>(size);
      }
      errno = 0;
    }
    if (errno != 0) AddProblem(result, level.path, errno, true);
    std::reverse(level.subfolders.begin(), level.subfolders.end());
    // A deep tree keeps at most kOpenLevels folders open; below them, folders are opened
    // by their paths.
    if (levels.size() >= kOpenLevels) level.folder->Close();
    levels.push_back(std::move(level));
    return true;
  };

  bool going = read_folder(AT_FDCWD, path.c_str(), path);
  while (going && !levels.empty()) {
    if (stopped()) {
      going = false;
      break;
    }
    Level& top = levels.back();
    if (top.subfolders.empty()) {
      levels.pop_back();
      continue;
    }
    const std::string name = std::move(top.subfolders.back());
    top.subfolders.pop_back();
    std::string child = Join(top.path, name.c_str());
    going = top.folder->ok() ? read_folder(top.folder->fd(), name.c_str(), std::move(child))
                             : read_folder(AT_FDCWD, child.c_str(), child);
  }
  if (!going) {
    result.stopped = true;
    return result;
  }
  result.sectors = SectorsFor(result.bytes);
  return result;
}

unsigned AttributeBits(unsigned mode, const std::string& name, bool writable) {
  unsigned bits = 0;
  if (S_ISDIR(mode)) {
    bits = 0x10;
  } else if (S_ISLNK(mode)) {
    bits = 0x400;
  } else if (S_ISREG(mode)) {
    bits = 0x20;
  } else {
    bits = 0x04;
  }
  if (!writable) bits |= 0x01;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") bits |= 0x02;
  return bits;
}

LocalStamp LocalTimeOf(std::time_t when) {
  struct tm local {};
  localtime_r(&when, &local);
  return LocalStamp{local.tm_year + 1900,
                    local.tm_mon + 1,
                    local.tm_mday,
                    local.tm_hour,
                    local.tm_min,
                    local.tm_sec,
                    static_cast<int>(local.tm_gmtoff / 900)};
}

namespace {

struct ListedEntry {
  std::string name;
  unsigned mode = 0;
  std::uint64_t size = 0;
  std::time_t created = 0;
  bool writable = true;
};

bool StatEntry(int folder_fd, const char* name, ListedEntry* entry) {
  struct statx info {};
  if (statx(folder_fd, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &info) != 0) {
    return false;
  }
  entry->name = name;
  entry->mode = info.stx_mode;
  // Folders and links hold no file data.
  entry->size = S_ISREG(info.stx_mode) ? info.stx_size : 0;
  // The creation time where the file system records one, else the last write.
  entry->created =
      (info.stx_mask & STATX_BTIME) != 0 ? info.stx_btime.tv_sec : info.stx_mtime.tv_sec;
  entry->writable = (info.stx_mode & S_IWUSR) != 0;
  return true;
}

// The entries of an open folder as the listing shows them: the folder itself (".")
// first, its parent ("..") next, then the others by name. Problems go to the log.
std::vector<ListedEntry> ReadEntries(const OpenFolder& folder, const std::string& path,
                                     Console* log) {
  std::vector<ListedEntry> entries;
  ListedEntry self;
  if (StatEntry(folder.fd(), ".", &self)) entries.push_back(std::move(self));
  ListedEntry parent;
  if (StatEntry(folder.fd(), "..", &parent)) entries.push_back(std::move(parent));
  const std::size_t fixed = entries.size();
  errno = 0;
  while (const dirent* item = readdir(folder.dir())) {
    if (IsDotOrDotDot(item->d_name)) continue;
    ListedEntry entry;
    if (StatEntry(folder.fd(), item->d_name, &entry)) {
      entries.push_back(std::move(entry));
    } else if (errno != ENOENT) {
      const int error = errno;
      const std::string full = Join(path, item->d_name);
      ConsoleLog(log, kCannotList, full.c_str(), std::strerror(error), error);
    }
    errno = 0;
  }
  if (errno != 0) {
    const int error = errno;
    ConsoleLog(log, kReadingStopped, path.c_str(), std::strerror(error), error);
  }
  std::sort(entries.begin() + static_cast<std::ptrdiff_t>(fixed), entries.end(),
            [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
  return entries;
}

std::string PatternOf(const std::string& folder) {
  return Join(folder, "*");
}

}  // namespace

bool ListSources(const std::function<std::optional<std::string>(std::size_t)>& source_at,
                 Console* log, const std::atomic<bool>& run) {
  for (std::size_t row = 0;; ++row) {
    const std::optional<std::string> source = source_at(row);
    if (!source) return true;
    std::uint64_t total = 0;
    FolderQueue queue;
    Visited visited;
    std::string current = *source;
    bool first = true;
    do {
      if (!first) ConsoleLog(log, "%s\n", PatternOf(current).c_str());
      OpenFolder folder(current, first);
      if (first) {
        if (!folder.ok()) {
          ConsoleLog(log, "Invalid File Handle. Get Last Error reports %d\n", folder.error());
          return false;
        }
      } else {
        if (!folder.ok()) {
          ConsoleLog(log, kCannotList, current.c_str(), std::strerror(folder.error()),
                     folder.error());
          continue;
        }
      }
      if (!visited.FirstVisit(folder.fd())) continue;
      const std::vector<ListedEntry> entries = ReadEntries(folder, current, log);
      if (first) {
        ConsoleLog(log, "The first file found is %s\\%s\n", PatternOf(current).c_str(),
                   entries.empty() ? "" : entries.front().name.c_str());
        first = false;
      }
      for (std::size_t i = 1; i < entries.size(); ++i) {
        if (!run.load()) return true;
        const ListedEntry& entry = entries[i];
        const LocalStamp stamp = LocalTimeOf(entry.created);
        const std::string date =
            FormatText(64, "%02d/%02d/%02d %02d:%02d:%02d %2d", stamp.day, stamp.month, stamp.year,
                       stamp.hour, stamp.minute, stamp.second, stamp.quarter_hours);
        ConsoleLog(log, "%2X, %7.0f KB, %s, %s\n",
                   AttributeBits(entry.mode, entry.name, entry.writable),
                   static_cast<double>(entry.size) / 1024.0, date.c_str(), entry.name.c_str());
        total += entry.size;
        if (S_ISDIR(entry.mode) && !IsDotOrDotDot(entry.name.c_str())) {
          queue.PushFolder(Join(current, entry.name.c_str()));
        }
      }
    } while (queue.PopFolder(&current));
    ConsoleLog(log, "%.0f KB\n", static_cast<double>(total) / 1024.0);
    ConsoleLog(log, "%.2f GB\n",
               static_cast<double>(static_cast<float>(total) / (1024.0f * 1024.0f * 1024.0f)));
    ConsoleLog(log, "Search completed\n");
  }
}

}  // namespace zorvane

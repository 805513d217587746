#include "tests/iso/iso_test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace zorvane::test {

namespace fs = std::filesystem;

ScratchTree::ScratchTree() {
  std::string pattern = (fs::temp_directory_path() / "zorvane-iso-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  // Readable by the unprivileged child of RunUnprivileged.
  chmod(root_.c_str(), 0755);
}

ScratchTree::~ScratchTree() {
  std::error_code ignored;
  // Folders made unreadable by a test are opened up again so they can be removed.
  for (auto it = fs::recursive_directory_iterator(
           root_, fs::directory_options::skip_permission_denied, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(root_, ignored);
}

void ScratchTree::Folder(const std::string& relative) const {
  fs::create_directories(Path(relative));
}

void ScratchTree::File(const std::string& relative, std::uint64_t size, char fill) const {
  const fs::path path = Path(relative);
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  const std::string block(65536, fill);
  for (std::uint64_t left = size; left > 0;) {
    const std::uint64_t n = left < block.size() ? left : block.size();
    out.write(block.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void ScratchTree::Text(const std::string& relative, const std::string& content) const {
  const fs::path path = Path(relative);
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void ScratchTree::Sparse(const std::string& relative, std::uint64_t size) const {
  const fs::path path = Path(relative);
  fs::create_directories(path.parent_path());
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
    throw std::runtime_error("cannot make " + path.string());
  }
  close(fd);
}

void ScratchTree::Link(const std::string& relative, const std::string& target) const {
  const fs::path path = Path(relative);
  fs::create_directories(path.parent_path());
  fs::create_symlink(target, path);
}

std::string RunUnprivileged(const std::function<std::string()>& work) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return "failed: pipe";
  const pid_t child = fork();
  if (child < 0) return "failed: fork";
  if (child == 0) {
    close(pipe_fds[0]);
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    const std::string text = work();
    const ssize_t written = write(pipe_fds[1], text.data(), text.size());
    _exit(written == static_cast<ssize_t>(text.size()) ? 0 : 4);
  }
  close(pipe_fds[1]);
  std::string text;
  char chunk[4096];
  ssize_t n;
  while ((n = read(pipe_fds[0], chunk, sizeof chunk)) > 0) text.append(chunk, n);
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "failed: child status " + std::to_string(status);
  }
  return text;
}

bool HaveTool(const std::string& name) {
  const std::string command = "command -v " + name + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace zorvane::test

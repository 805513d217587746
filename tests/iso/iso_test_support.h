// A scratch tree on disk for the volume dialog's tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zorvane::test {

class ScratchTree {
 public:
  ScratchTree();
  ~ScratchTree();
  ScratchTree(const ScratchTree&) = delete;
  ScratchTree& operator=(const ScratchTree&) = delete;

  const std::string& root() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  // Creates the folders on the way as needed.
  void Folder(const std::string& relative) const;
  void File(const std::string& relative, std::uint64_t size, char fill = 'z') const;
  void Text(const std::string& relative, const std::string& content) const;
  void Sparse(const std::string& relative, std::uint64_t size) const;
  void Link(const std::string& relative, const std::string& target) const;

 private:
  std::string root_;
};

// Runs `work` in a child process without root's right to read every folder (as nobody
// when the tests run as root) and returns what it wrote, or "failed: ..." when the child
// did not end normally.
std::string RunUnprivileged(const std::function<std::string()>& work);

// Whether a program is on the PATH.
bool HaveTool(const std::string& name);

}  // namespace zorvane::test

// What the served drive adds to a read over loopback TCP: one READ(10) of 31 blocks (63,488
// bytes) at a time from a pressed DVD-ROM served from an image file, against the floor of
// the same exchange, a peer that answers each 48-byte command PDU at once with a Data-In
// PDU of the same length from memory. The same initiator, one command in flight, times
// both; the image lies in the page cache, as the guest's reference drive reads it.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/initiator.h"

namespace {

namespace srv = zorvane::vdrive::server;
namespace init = zorvane::vdrive::server::test;

constexpr std::uint16_t kBlocks = 31;
constexpr std::uint32_t kCommandBytes = kBlocks * 2048;  // 63,488
constexpr std::uint32_t kImageBlocks = 32768;            // a 64 MiB image, read around

// The image file, removed at exit.
class Image {
 public:
  Image() {
    char path[] = "/tmp/zorvane-bench-served-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return;
    path_ = path;
    std::vector<std::uint8_t> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i * 7);
    bool whole = true;
    for (std::uint32_t written = 0; whole && written < kImageBlocks * 2048;
         written += chunk.size()) {
      whole = write(fd, chunk.data(), chunk.size()) == static_cast<ssize_t>(chunk.size());
    }
    if (close(fd) != 0 || !whole) {
      unlink(path);
      path_.clear();
    }
  }
  ~Image() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Reads until `length` bytes have come; false at the end of the stream.
bool ReceiveAll(int fd, std::uint8_t* out, std::size_t length) {
  while (length > 0) {
    const ssize_t n = recv(fd, out, length, 0);
    if (n <= 0) return false;
    out += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// The floor: a peer that takes each command PDU and answers it with one Data-In PDU that
// carries the status, header and data in one sendmsg, as the served drive sends them.
class BarePeer {
 public:
  BarePeer() {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listen_fd_, 1) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~BarePeer() {
    shutdown(listen_fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    close(listen_fd_);
  }
  BarePeer(const BarePeer&) = delete;
  BarePeer& operator=(const BarePeer&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  void Serve() {
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::vector<std::uint8_t> data(kCommandBytes, 0x5A);
    std::array<std::uint8_t, 48> command{};
    std::uint32_t stat_sn = 0;
    while (ReceiveAll(fd, command.data(), command.size())) {
      std::array<std::uint8_t, 48> h{};
      h[0] = 0x25;         // Data-In
      h[1] = 0x80 | 0x01;  // final, with the status (GOOD)
      init::SetBe24(h.data() + 5, kCommandBytes);
      std::copy(command.begin() + 16, command.begin() + 20, h.begin() + 16);  // the task's tag
      init::SetBe32(h.data() + 20, 0xFFFFFFFF);
      init::SetBe32(h.data() + 24, stat_sn++);
      init::SetBe32(h.data() + 28, init::Be32(command.data() + 24) + 1);  // ExpCmdSN
      init::SetBe32(h.data() + 32, init::Be32(command.data() + 24) + 16);
      iovec parts[2] = {{h.data(), h.size()}, {data.data(), data.size()}};
      msghdr message{};
      message.msg_iov = parts;
      message.msg_iovlen = 2;
      if (sendmsg(fd, &message, MSG_NOSIGNAL) != static_cast<ssize_t>(h.size() + data.size())) {
        break;
      }
    }
    close(fd);
  }

  int listen_fd_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

// Times READ(10)s of 31 blocks through `initiator`, around the image.
void ReadLoop(benchmark::State& state, init::Initiator& initiator) {
  std::uint32_t lba = 0;
  for (auto _ : state) {
    const init::Outcome outcome = initiator.Command(init::Read10(lba, kBlocks), kCommandBytes);
    if (!outcome.answered || outcome.status != 0 || outcome.data.size() != kCommandBytes) {
      state.SkipWithError("the read failed");
      return;
    }
    lba = (lba + kBlocks) % (kImageBlocks - kBlocks);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kCommandBytes);
}

void BM_ServedRead10(benchmark::State& state) {
  static const Image image;
  if (image.path().empty()) {
    state.SkipWithError("no image file in /tmp");
    return;
  }
  srv::ServerOptions options = init::TestOptions();
  options.idle_timeout_ms = 60000;
  srv::TargetSettings settings;
  init::ServedDrive served("dvdrom,image=" + image.path(), settings, options);
  init::Initiator initiator(served.port());
  // As QEMU's initiator (libiscsi) declares: a whole read comes in one Data-In PDU.
  if (initiator.Login({{"MaxRecvDataSegmentLength", "262144"}}).empty()) {
    state.SkipWithError("login refused");
    return;
  }
  // The image into the page cache.
  for (std::uint32_t lba = 0; lba + kBlocks <= kImageBlocks; lba += kBlocks) {
    initiator.Command(init::Read10(lba, kBlocks), kCommandBytes);
  }
  ReadLoop(state, initiator);
}

void BM_BareExchange(benchmark::State& state) {
  BarePeer peer;
  init::Initiator initiator(peer.port());
  ReadLoop(state, initiator);
}

BENCHMARK(BM_ServedRead10)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareExchange)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

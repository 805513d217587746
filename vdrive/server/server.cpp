#include "vdrive/server/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <utility>

namespace zorvane::vdrive::server {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point After(int ms) {
  return Clock::now() + std::chrono::milliseconds(ms);
}

// What is left until `deadline`, for poll.
int MillisecondsTo(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60 * 60 * 1000));
}

// Waits until `fd` is ready for `events` or the deadline passes; false on a time-out, an
// error or a stop request.
bool WaitFor(int fd, short events, int stop_fd, Clock::time_point deadline) {
  for (;;) {
    pollfd fds[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
    const int ready = poll(fds, 2, MillisecondsTo(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (fds[1].revents & POLLIN) != 0) return false;
    return true;
  }
}

// Sends whole PDUs on a socket: header, data and the padding to four bytes. A PDU the
// peer does not take within the time-out, or a stop request, ends the connection.
class SocketSink : public PduSink {
 public:
  SocketSink(int fd, int stop_fd, int timeout_ms)
      : fd_(fd), stop_fd_(stop_fd), timeout_ms_(timeout_ms) {}
  // The header, held back (MSG_MORE) to leave with the first of the data, then the data
  // from the file by sendfile: the pages go to the socket without a copy through this
  // process. The socket is non-blocking, so a peer that stops reading meets the time-out.
  bool SendFile(const std::uint8_t* header, int file, std::int64_t offset,
                std::size_t length) override {
    const Clock::time_point deadline = After(timeout_ms_);
    if (!SendBytes(header, kHeaderLength, MSG_MORE, deadline)) return false;
    auto at = static_cast<off_t>(offset);
    std::size_t left = length;
    while (left > 0) {
      const ssize_t n = sendfile(fd_, file, &at, left);
      if (n > 0) {
        left -= static_cast<std::size_t>(n);
        continue;
      }
      if (n == 0) return false;  // the file ends before the range: the connection ends
      if (errno == EINTR) continue;
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd_, POLLOUT, stop_fd_, deadline)) {
        continue;
      }
      return false;
    }
    return SendBytes(kPad, (4 - length % 4) % 4, 0, deadline);
  }

  bool Send(const std::uint8_t* header, const std::uint8_t* data, std::size_t length) override {
    const Clock::time_point deadline = After(timeout_ms_);
    iovec parts[3] = {{const_cast<std::uint8_t*>(header), kHeaderLength},
                      {const_cast<std::uint8_t*>(data), length},
                      {const_cast<std::uint8_t*>(kPad), (4 - length % 4) % 4}};
    std::size_t first = 0;
    while (first < 3) {
      msghdr message{};
      message.msg_iov = parts + first;
      message.msg_iovlen = 3 - first;
      const ssize_t n = sendmsg(fd_, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EINTR) continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) &&
            WaitFor(fd_, POLLOUT, stop_fd_, deadline)) {
          continue;
        }
        return false;
      }
      auto left = static_cast<std::size_t>(n);
      while (first < 3 && left >= parts[first].iov_len) {
        left -= parts[first].iov_len;
        ++first;
      }
      if (first < 3) {
        parts[first].iov_base = static_cast<std::uint8_t*>(parts[first].iov_base) + left;
        parts[first].iov_len -= left;
      }
    }
    return true;
  }

 private:
  static constexpr std::uint8_t kPad[4] = {};

  bool SendBytes(const std::uint8_t* bytes, std::size_t length, int flags,
                 Clock::time_point deadline) {
    while (length > 0) {
      const ssize_t n = send(fd_, bytes, length, flags | MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        bytes += n;
        length -= static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
          WaitFor(fd_, POLLOUT, stop_fd_, deadline)) {
        continue;
      }
      return false;
    }
    return true;
  }

  int fd_;
  int stop_fd_;
  int timeout_ms_;
};

// One line for a PDU: direction, connection, opcode, flags, tag, the sequence numbers and
// the data length.
void TracePdu(const char* way, int fd, const std::uint8_t* h) {
  auto field = [h](std::size_t at) {
    return static_cast<unsigned>(h[at] << 24 | h[at + 1] << 16 | h[at + 2] << 8 | h[at + 3]);
  };
  std::fprintf(stderr,
               "%s %d op %02x flags %02x itt %08x ttt %08x sn %08x/%08x dsn %08x off %u len %u\n",
               way, fd, h[0] & 0x3F, h[1], field(16), field(20), field(24), field(28), field(36),
               field(40), field(4) & 0xFFFFFF);
}

class TracingSink : public PduSink {
 public:
  TracingSink(PduSink& inner, int fd) : inner_(inner), fd_(fd) {}
  bool Send(const std::uint8_t* header, const std::uint8_t* data, std::size_t length) override {
    TracePdu("<-", fd_, header);
    return inner_.Send(header, data, length);
  }
  bool SendFile(const std::uint8_t* header, int file, std::int64_t offset,
                std::size_t length) override {
    TracePdu("<-", fd_, header);
    return inner_.SendFile(header, file, offset, length);
  }

 private:
  PduSink& inner_;
  int fd_;
};

enum class ReadResult { kDone, kTimedOut, kEnded };

// Waits until `fd` has something to read (or its end) by the deadline. kEnded on an error
// or a stop request.
ReadResult WaitReadable(int fd, int stop_fd, Clock::time_point deadline) {
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    const int ready = poll(fds, 2, MillisecondsTo(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[1].revents & POLLIN) != 0) return ReadResult::kEnded;
    return ready == 0 ? ReadResult::kTimedOut : ReadResult::kDone;
  }
}

// Reads exactly `length` bytes by the deadline (however the bytes trickle in): what has
// come is taken at once, and only a socket without data is waited on. kEnded on end of
// stream, an error or a stop request.
ReadResult ReadFull(int fd, int stop_fd, std::uint8_t* out, std::size_t length,
                    Clock::time_point deadline) {
  std::size_t got = 0;
  while (got < length) {
    const ssize_t n = recv(fd, out + got, length - got, MSG_DONTWAIT);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) return ReadResult::kEnded;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return ReadResult::kEnded;
    const ReadResult ready = WaitReadable(fd, stop_fd, deadline);
    if (ready != ReadResult::kDone) return ready;
  }
  return ReadResult::kDone;
}

std::string PortalOf(int fd) {
  sockaddr_storage local{};
  socklen_t size = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) return "127.0.0.1:3260";
  char text[INET6_ADDRSTRLEN] = {};
  if (local.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&local);
    inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
    std::string portal = "[";
    portal.append(text).append("]:").append(std::to_string(ntohs(a->sin6_port)));
    return portal;
  }
  const auto* a = reinterpret_cast<const sockaddr_in*>(&local);
  inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(a->sin_port));
}

std::string Unbracket(const std::string& address) {
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
    return address.substr(1, address.size() - 2);
  }
  return address;
}

}  // namespace

bool IsLoopback(const std::string& address) {
  in_addr v4{};
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, Unbracket(address).c_str(), &v6) == 1) {
    return IN6_IS_ADDR_LOOPBACK(&v6);
  }
  return false;
}

void ConfigureSocket(int fd, const ServerOptions& options) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // An initiator that vanishes without closing (a guest switched off) is noticed.
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  const int idle = 30;
  const int interval = 10;
  const int probes = 3;
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
  const auto user_timeout = static_cast<unsigned>(std::max(options.user_timeout_ms, 0));
  setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &user_timeout, sizeof user_timeout);
}

Server::Server(Target& target) : target_(target) {}

Server::~Server() {
  Stop();
  Reap(true);
  if (listen_fd_ >= 0) close(listen_fd_);
  for (const int fd : stop_pipe_) {
    if (fd >= 0) close(fd);
  }
}

bool Server::Listen(const ServerOptions& options, std::string* error) {
  options_ = options;
  if (!options.allow_remote && !IsLoopback(options.address)) {
    *error = options.address + " is not a loopback address (--allow-remote serves on it)";
    return false;
  }
  sockaddr_storage address{};
  socklen_t size = 0;
  const std::string host = Unbracket(options.address);
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(options.port);
    size = sizeof *v4;
  } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(options.port);
    size = sizeof *v6;
  } else {
    *error = "not an IP address: " + options.address;
    return false;
  }
  if (pipe2(stop_pipe_, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  listen_fd_ = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int on = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(listen_fd_, 16) != 0) {
    *error = options.address + ":" + std::to_string(options.port) + ": " + std::strerror(errno);
    return false;
  }
  sockaddr_storage bound{};
  socklen_t bound_size = sizeof bound;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&bound), &bound_size);
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  return true;
}

void Server::Run() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    const int ready = poll(fds, 2, 1000);
    if (ready < 0 && errno != EINTR) return;
    if ((fds[1].revents & POLLIN) != 0) return;
    Reap(false);
    if (ready <= 0 || (fds[0].revents & POLLIN) == 0) continue;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(workers_lock_);
    if (workers_.size() >= options_.max_connections) {
      close(fd);
      continue;
    }
    ConfigureSocket(fd, options_);
    auto done = std::make_shared<std::atomic<bool>>(false);
    try {
      std::thread thread([this, fd, done] { Serve(fd, done); });
      Worker& worker = workers_.emplace_back();
      worker.done = done;
      worker.thread = std::move(thread);
    } catch (const std::system_error&) {  // no thread to be had: this connection is refused
      close(fd);
    }
  }
}

void Server::Stop() {
  if (stop_pipe_[1] >= 0) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = write(stop_pipe_[1], &byte, 1);
  }
}

void Server::Reap(bool all) {
  std::list<Worker> finished;
  {
    std::lock_guard lock(workers_lock_);
    for (auto it = workers_.begin(); it != workers_.end();) {
      if (all || it->done->load()) {
        finished.splice(finished.end(), workers_, it++);
      } else {
        ++it;
      }
    }
  }
  for (Worker& worker : finished) worker.thread.join();
}

void Server::Serve(int fd, const std::shared_ptr<std::atomic<bool>>& done) {
  // Reads of a pressed disc leave by sendfile, which has no MSG_NOSIGNAL: a peer gone
  // mid-send raises SIGPIPE at this thread, which keeps it blocked (pending, and dropped
  // when the thread ends) instead of dying of it. The socket turns non-blocking, as every
  // send and receive here waits with its own time-out.
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  Connection connection(target_, PortalOf(fd));
  SocketSink socket_sink(fd, stop_pipe_[0], options_.send_timeout_ms);
  TracingSink tracing_sink(socket_sink, fd);
  PduSink& sink = options_.trace ? static_cast<PduSink&>(tracing_sink) : socket_sink;
  Clock::time_point ping_deadline;
  for (;;) {
    // Each login PDU, whole, comes within the login time-out. A session silent for the
    // idle time-out is pinged, and closed when it does not answer in time.
    const bool login = !connection.full_feature();
    Clock::time_point deadline = login                           ? After(options_.login_timeout_ms)
                                 : connection.ping_outstanding() ? ping_deadline
                                                                 : After(options_.idle_timeout_ms);
    std::uint8_t header[kHeaderLength];
    const ReadResult first = WaitReadable(fd, stop_pipe_[0], deadline);
    if (first == ReadResult::kTimedOut && !login && !connection.ping_outstanding()) {
      if (!connection.Ping(sink)) break;
      ping_deadline = After(options_.ping_timeout_ms);
      continue;
    }
    if (first != ReadResult::kDone) break;
    if (!login) deadline = After(options_.pdu_timeout_ms);
    if (ReadFull(fd, stop_pipe_[0], header, kHeaderLength, deadline) != ReadResult::kDone) {
      break;
    }
    if (options_.trace) TracePdu("->", fd, header);
    HeaderLayout layout;
    std::string error;
    if (!ParseHeader(header, connection.MaxDataSegment(), &layout, &error)) {
      connection.RejectHeader(header, sink);
      break;
    }
    Pdu pdu;
    std::memcpy(pdu.header, header, kHeaderLength);
    pdu.ahs.resize(layout.ahs_length);
    pdu.data.resize(layout.padded_data_length());
    if (ReadFull(fd, stop_pipe_[0], pdu.ahs.data(), pdu.ahs.size(), deadline) !=
            ReadResult::kDone ||
        ReadFull(fd, stop_pipe_[0], pdu.data.data(), pdu.data.size(), deadline) !=
            ReadResult::kDone) {
      break;
    }
    pdu.data.resize(layout.data_length);
    if (!connection.Receive(pdu, sink)) break;
    // Busy with other PDUs is no answer to the ping.
    if (connection.ping_outstanding() && Clock::now() >= ping_deadline) break;
  }
  if (options_.trace && !connection.last_error().empty()) {
    std::fprintf(stderr, "-- %d closed: %s\n", fd, connection.last_error().c_str());
  }
  shutdown(fd, SHUT_RDWR);
  close(fd);
  done->store(true);
}

}  // namespace zorvane::vdrive::server

// The iSCSI target on a TCP socket: one thread a connection, a bounded number of them, one
// served drive behind them all.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "vdrive/server/connection.h"

namespace zorvane::vdrive::server {

struct ServerOptions {
  std::string address = "127.0.0.1";
  std::uint16_t port = 3260;         // 0: any free port
  bool allow_remote = false;         // an address other than loopback
  std::size_t max_connections = 16;  // more are closed at once
  int login_timeout_ms = 15000;      // each login PDU, whole, must come within this
  int pdu_timeout_ms = 30000;        // the rest of a PDU whose first byte has come
  int idle_timeout_ms = 30000;       // a silent session is sent a NOP-In after this
  int ping_timeout_ms = 15000;       // and closed when the answer is not in within this
  int send_timeout_ms = 30000;       // each PDU sent must be taken within this
  int user_timeout_ms = 60000;       // TCP: data unacknowledged this long ends the link
  bool trace = false;                // one line on stderr for every PDU either way
};

// True for 127.0.0.0/8 and ::1.
bool IsLoopback(const std::string& address);

// Sets up an accepted connection's socket: no delay for small PDUs, keepalive probes
// after 30 s of silence (a peer that vanished is noticed in a minute, not in two hours),
// and the user time-out of `options`.
void ConfigureSocket(int fd, const ServerOptions& options);

class Server {
 public:
  explicit Server(Target& target);
  ~Server();  // stops and waits for the connections
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens; false with the reason (an address that is not loopback without
  // allow_remote, an address in use).
  bool Listen(const ServerOptions& options, std::string* error);
  std::uint16_t port() const { return port_; }
  const std::string& address() const { return options_.address; }

  // Accepts connections until Stop().
  void Run();
  // Ends Run() and every connection (callable from any thread).
  void Stop();

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void Serve(int fd, const std::shared_ptr<std::atomic<bool>>& done);
  void Reap(bool all);

  Target& target_;
  ServerOptions options_;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::mutex workers_lock_;
  std::list<Worker> workers_;
};

}  // namespace zorvane::vdrive::server

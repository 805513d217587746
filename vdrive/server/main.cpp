// zorvane-vdrive: serves one virtual drive as LUN 0 of an iSCSI target.
//   zorvane-vdrive serve [--listen ADDRESS:PORT] [--allow-remote] [--name IQN] [--trace]
//                        [--login-timeout S] [--idle-timeout S] SPEC
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "vdrive/server/server.h"

namespace {

using namespace zorvane::vdrive;

constexpr const char* kUsage =
    "usage: zorvane-vdrive serve [--listen ADDRESS:PORT] [--allow-remote] [--name IQN] [--trace] "
    "[--login-timeout S] [--idle-timeout S] SPEC\n"
    "  Serves the virtual drive SPEC (PRESET[,KEY=VALUE]...) as LUN 0 of an iSCSI target.\n"
    "  --listen        where to listen (default 127.0.0.1:3260; port 0 picks a free one)\n"
    "  --allow-remote  permit an address other than loopback\n"
    "  --name          the target's name (default iqn.1999-06.invalid.zorvane:vdrive)\n"
    "  --trace         one line on stderr for every PDU received and sent\n"
    "  --login-timeout seconds each login PDU may take (default 15)\n"
    "  --idle-timeout  seconds of silence before a session is pinged (default 30); one that\n"
    "                  does not answer within half as long again is closed\n";

// A whole number of seconds from 1 to 86,400.
bool ParseSeconds(const std::string& text, int* seconds) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value < 1 || value > 86400) return false;
  *seconds = static_cast<int>(value);
  return true;
}

bool SplitListen(const std::string& text, std::string* address, std::uint16_t* port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  const std::string digits = text.substr(colon + 1);
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const long value = std::strtol(digits.c_str(), nullptr, 10);
  if (value > 65535) return false;
  *address = text.substr(0, colon);
  *port = static_cast<std::uint16_t>(value);
  return true;
}

int Serve(const std::vector<std::string>& args) {
  server::ServerOptions options;
  server::TargetSettings settings;
  std::string spec;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--listen" && i + 1 < args.size()) {
      if (!SplitListen(args[++i], &options.address, &options.port)) {
        std::fprintf(stderr, "zorvane-vdrive: --listen takes ADDRESS:PORT, not %s\n",
                     args[i].c_str());
        return 2;
      }
    } else if (arg == "--allow-remote") {
      options.allow_remote = true;
    } else if (arg == "--trace") {
      options.trace = true;
    } else if ((arg == "--login-timeout" || arg == "--idle-timeout") && i + 1 < args.size()) {
      int seconds = 0;
      if (!ParseSeconds(args[++i], &seconds)) {
        std::fprintf(stderr, "zorvane-vdrive: %s takes seconds from 1 to 86400, not %s\n",
                     arg.c_str(), args[i].c_str());
        return 2;
      }
      if (arg == "--login-timeout") {
        options.login_timeout_ms = seconds * 1000;
      } else {
        options.idle_timeout_ms = seconds * 1000;
        options.ping_timeout_ms = seconds * 500;
      }
    } else if (arg == "--name" && i + 1 < args.size()) {
      settings.name = args[++i];
    } else if (!arg.empty() && arg[0] != '-' && spec.empty()) {
      spec = arg;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (spec.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string error;
  std::unique_ptr<Drive> drive = Drive::Create(spec, &error);
  if (!drive) {
    std::fprintf(stderr, "zorvane-vdrive: %s\n", error.c_str());
    return 1;
  }
  // Signals are taken by this thread alone, with sigwait, so that stopping is orderly.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  server::Target target(std::move(drive), settings);
  server::Server server(target);
  if (!server.Listen(options, &error)) {
    std::fprintf(stderr, "zorvane-vdrive: %s\n", error.c_str());
    return 1;
  }
  const bool v6 = options.address.find(':') != std::string::npos && options.address[0] != '[';
  std::printf("serving %s on %s%s%s:%u\n", settings.name.c_str(), v6 ? "[" : "",
              options.address.c_str(), v6 ? "]" : "", static_cast<unsigned>(server.port()));
  std::fflush(stdout);
  std::thread runner([&server] { server.Run(); });
  int received = 0;
  sigwait(&signals, &received);
  server.Stop();
  runner.join();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] != "serve") {
    std::fputs(kUsage, stderr);
    return 2;
  }
  args.erase(args.begin());
  return Serve(args);
}

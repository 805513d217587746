#include "cli/cli_support.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace zorvane {

namespace {

std::atomic<int> stop_signals{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnStopSignal(int) {
  if (stop_signals.fetch_add(1) > 0) ::_exit(kExitStopped);
  static const char kLine[] = "\nzorvane-cli: stopping (again to leave at once)\n";
  const ssize_t ignored = ::write(STDERR_FILENO, kLine, sizeof kLine - 1);
  (void)ignored;
}

struct sigaction previous_interrupt;
struct sigaction previous_terminate;

}  // namespace

StopSignals::StopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait in a system call returns with EINTR and looks at the flag.
  action.sa_flags = 0;
  ::sigaction(SIGINT, &action, &previous_interrupt);
  ::sigaction(SIGTERM, &action, &previous_terminate);
}

StopSignals::~StopSignals() {
  ::sigaction(SIGINT, &previous_interrupt, nullptr);
  ::sigaction(SIGTERM, &previous_terminate, nullptr);
}

bool StopRequested() {
  return stop_signals.load() > 0;
}

void RequestStop() {
  stop_signals.fetch_add(1);
}

void ClearStopRequest() {
  stop_signals.store(0);
}

int NoArguments(CommandContext& context, const char* name) {
  if (context.args.empty()) return kExitOk;
  std::fprintf(context.err, "zorvane-cli: %s takes no arguments\n", name);
  return kExitUsage;
}

CliProgress::CliProgress(std::FILE* stream, std::string label)
    : stream_(stream), label_(std::move(label)), terminal_(::isatty(::fileno(stream)) == 1) {}

void CliProgress::Update(std::uint64_t done, std::uint64_t total, std::string_view detail) {
  const auto now = std::chrono::steady_clock::now();
  const auto interval = terminal_ ? std::chrono::milliseconds(200) : std::chrono::seconds(5);
  last_given_.done = done;
  last_given_.total = total;
  last_given_.detail.assign(detail);
  if (drawn_ && now - last_ < interval) {
    pending_ = true;
    return;
  }
  last_ = now;
  pending_ = false;
  Draw(done, total, detail);
}

void CliProgress::Draw(std::uint64_t done, std::uint64_t total, std::string_view detail) {
  drawn_ = true;
  const int percent = total == 0 ? -1 : static_cast<int>(done * 100 / total);
  if (terminal_) {
    constexpr int kWidth = 30;
    const int filled = percent < 0 ? 0 : percent * kWidth / 100;
    std::fprintf(stream_, "\r%s [%.*s%*s] %3d%% %llu/%llu %.*s\x1b[K", label_.c_str(), filled,
                 "##############################", kWidth - filled, "", percent < 0 ? 0 : percent,
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                 static_cast<int>(detail.size()), detail.data());
  } else if (percent >= 0) {
    std::fprintf(stream_, "%s: %d%% %llu/%llu %.*s\n", label_.c_str(), percent,
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                 static_cast<int>(detail.size()), detail.data());
  } else {
    std::fprintf(stream_, "%s: %llu %.*s\n", label_.c_str(), static_cast<unsigned long long>(done),
                 static_cast<int>(detail.size()), detail.data());
  }
  std::fflush(stream_);
}

void CliProgress::Finish() {
  if (pending_) Draw(last_given_.done, last_given_.total, last_given_.detail);
  pending_ = false;
  if (terminal_ && drawn_) {
    std::fputc('\n', stream_);
    std::fflush(stream_);
  }
  drawn_ = false;
}

}  // namespace zorvane

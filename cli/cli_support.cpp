#include "cli/cli_support.h"

#include <unistd.h>

namespace zorvane {

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
  if (drawn_ && now - last_ < interval) return;
  last_ = now;
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
  if (terminal_ && drawn_) {
    std::fputc('\n', stream_);
    std::fflush(stream_);
  }
  drawn_ = false;
}

}  // namespace zorvane

#include "transport/polling.h"

#include <algorithm>
#include <mutex>
#include <thread>

namespace zorvane {

namespace {
std::mutex policy_mutex;
PollPolicy policy;
}  // namespace

PollPolicy ReadyPolling() {
  std::lock_guard lock(policy_mutex);
  return policy;
}

void SetReadyPolling(PollPolicy new_policy) {
  std::lock_guard lock(policy_mutex);
  policy = new_policy;
}

std::int32_t RepeatWhile(const std::function<std::int32_t()>& send,
                         std::initializer_list<std::int32_t> retry) {
  const PollPolicy current = ReadyPolling();
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const std::int32_t result = send();
    if (result == -1 || std::find(retry.begin(), retry.end(), result) == retry.end()) {
      return result;
    }
    if (std::chrono::steady_clock::now() - start >= current.limit) return result;
    if (current.pause.count() > 0) std::this_thread::sleep_for(current.pause);
  }
}

}  // namespace zorvane

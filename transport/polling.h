// Readiness polling: how often and for how long callers repeat a command while the drive
// answers "becoming ready" or "medium may have changed".
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>

namespace zorvane {

struct PollPolicy {
  std::chrono::milliseconds pause{50};     // between two attempts
  std::chrono::milliseconds limit{60000};  // give up once this much time has passed
};

// The policy in force; tests shorten it.
PollPolicy ReadyPolling();
void SetReadyPolling(PollPolicy policy);

// Sends the command until its result is none of `retry`, pausing between attempts and
// giving up after the policy's limit; a result of -1 (unreachable drive) ends at once.
// Returns the last result.
std::int32_t RepeatWhile(const std::function<std::int32_t()>& send,
                         std::initializer_list<std::int32_t> retry);

}  // namespace zorvane

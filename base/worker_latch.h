// The end of a job's worker thread. The command line returns from main as soon as a job's
// outcome is known, while the worker may still be logging its last lines or letting go of
// the drive; it waits here first, so that no worker runs on while the process ends.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace zorvane {

class WorkerLatch {
 public:
  void Started() {
    std::lock_guard lock(mutex_);
    ++running_;
  }
  void Ended() {
    std::lock_guard lock(mutex_);
    --running_;
    ended_.notify_all();
  }
  // Returns once every worker started has ended (at once when none was started).
  void Wait() {
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [this] { return running_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  int running_ = 0;
};

// Runs `work` on a detached thread counted by `latch`, which ends once the work returned.
// `work` must keep the latch's owner alive (it holds the job that holds the latch).
template <typename Work>
void StartCountedWorker(WorkerLatch& latch, Work work) {
  latch.Started();
  try {
    std::thread([&latch, work = std::move(work)]() mutable {
      work();
      latch.Ended();
    }).detach();
  } catch (...) {
    latch.Ended();
    throw;
  }
}

}  // namespace zorvane

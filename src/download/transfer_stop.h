// Ending transfers early: a job that runs on a thread of its own can be told to give up, and
// every transfer that thread makes then fails at its next chunk or progress check.
#pragma once

#include <atomic>

class TransferStop {
 public:
  void Stop() { stopped_.store(true, std::memory_order_relaxed); }
  bool Stopped() const { return stopped_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> stopped_{false};
};

// While it lives, the transfers of the calling thread obey `stop`.
class TransferStopScope {
 public:
  explicit TransferStopScope(const TransferStop& stop);
  ~TransferStopScope();
  TransferStopScope(const TransferStopScope&) = delete;
  TransferStopScope& operator=(const TransferStopScope&) = delete;

 private:
  const TransferStop* previous_;
};

// Whether the calling thread's transfers have been told to give up.
bool TransfersStopped();

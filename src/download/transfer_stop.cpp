#include "download/transfer_stop.h"

namespace {
// The stop that this thread's transfers obey; none on a thread that was never given one.
thread_local const TransferStop* current_stop = nullptr;
}  // namespace

TransferStopScope::TransferStopScope(const TransferStop& stop) : previous_(current_stop) {
  current_stop = &stop;
}

TransferStopScope::~TransferStopScope() { current_stop = previous_; }

bool TransfersStopped() { return current_stop != nullptr && current_stop->Stopped(); }

#include "app/fetch_ahead.h"

#include "platform/interrupt.h"

void RecordingConsole::Write(platform::Stream stream, std::string_view text) {
  lines_.emplace_back(stream, std::string(text));
}

bool RecordingConsole::Mentions(std::string_view text) const {
  for (const auto& line : lines_) {
    if (line.second.find(text) != std::string::npos) return true;
  }
  return false;
}

void RecordingConsole::Replay(platform::Console& console) const {
  for (const auto& [stream, text] : lines_) console.Write(stream, text);
}

FetchAhead::~FetchAhead() { StopAll(); }

std::size_t FetchAhead::Start(Job job) {
  std::lock_guard<std::mutex> hold(lock_);
  tasks_.push_back(std::make_unique<Task>());
  Task& task = *tasks_.back();
  if (failed_) task.stop.Stop();
  task.thread = std::thread([this, &task, job = std::move(job)] { RunTask(task, job); });
  return tasks_.size() - 1;
}

void FetchAhead::RunTask(Task& task, const Job& job) {
  platform::WorkerThread interrupts;
  TransferStopScope obeys(task.stop);
  bool ok = false;
  bool threw = false;
  try {
    ok = job(task.outcome.output) && !task.stop.Stopped();
  } catch (...) {
    threw = true;
  }
  std::lock_guard<std::mutex> hold(lock_);
  task.outcome.threw = threw;
  task.outcome.ok = ok;
  task.outcome.stopped = task.stop.Stopped();
  task.done = true;
  if (!ok) {
    failed_ = true;
    StopAfter(task);
  }
  ended_.notify_all();
}

void FetchAhead::StopAfter(const Task& failed) {
  bool after = false;
  for (const auto& task : tasks_) {
    if (after) task->stop.Stop();
    if (task.get() == &failed) after = true;
  }
}

const FetchAhead::Outcome& FetchAhead::Wait(std::size_t job) {
  std::unique_lock<std::mutex> hold(lock_);
  Task& task = *tasks_.at(job);
  ended_.wait(hold, [&] { return task.done; });
  return task.outcome;
}

void FetchAhead::StopAll() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& task : tasks_) {
      task->stop.Stop();
      if (task->thread.joinable()) threads.push_back(std::move(task->thread));
    }
  }
  for (std::thread& thread : threads) thread.join();
}

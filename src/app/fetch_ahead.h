// Jobs that run ahead of their step, each on a thread of its own, while the run goes on. What a
// job prints is kept until its step takes it, so the user sees the lines in the order a run one
// step after the other prints them. A job that fails stops every job started after it (their
// outcome can no longer matter); dropping the scheduler stops the jobs still running and waits
// for them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "download/transfer_stop.h"
#include "platform/console.h"

// Console output kept in the order it was written, both streams together.
class RecordingConsole : public platform::Console {
 public:
  void Write(platform::Stream stream, std::string_view text) override;
  // Writes everything kept to `console`, in order.
  void Replay(platform::Console& console) const;
  // Whether any text kept contains `text`.
  bool Mentions(std::string_view text) const;

 private:
  std::vector<std::pair<platform::Stream, std::string>> lines_;
};

class FetchAhead {
 public:
  // A job prints to the console given; true when it succeeded.
  using Job = std::function<bool(platform::Console&)>;

  FetchAhead() = default;
  ~FetchAhead();
  FetchAhead(const FetchAhead&) = delete;
  FetchAhead& operator=(const FetchAhead&) = delete;

  // Starts the job; its number is the count of jobs started before it. After a job has
  // failed, a new one starts stopped.
  std::size_t Start(Job job);

  // The job's outcome once it has ended, with what it printed. A job that was stopped counts
  // as failed.
  struct Outcome {
    bool ok = false;
    bool stopped = false;
    bool threw = false;  // its step does the work again, and the exception reaches the run
    RecordingConsole output;
  };
  const Outcome& Wait(std::size_t job);

  // Stops every job still running and waits for all of them.
  void StopAll();

 private:
  struct Task {
    TransferStop stop;
    Outcome outcome;
    bool done = false;
    std::thread thread;
  };

  void RunTask(Task& task, const Job& job);
  void StopAfter(const Task& failed);

  std::mutex lock_;
  std::condition_variable ended_;
  std::vector<std::unique_ptr<Task>> tasks_;
  bool failed_ = false;
};

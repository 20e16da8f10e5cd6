// The run's work folder: created empty at the start, removed with its content on every
// way out of the pipeline, also while an exception passes. The run holds it exclusively, so
// a second run on the same temporary folder fails instead of destroying the first one's.
#pragma once

#include <string>

#include "app/pipeline_ops.h"

class WorkFolder {
 public:
  WorkFolder(std::string path, PipelineOps& ops) : path_(std::move(path)), ops_(ops) {}
  ~WorkFolder() {
    if (!locked_) return;
    ops_.RemoveFolder(path_);
    ops_.UnlockWorkFolder(path_);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  // Removes a folder of that name left by an earlier run, then creates it anew.
  bool Create() {
    locked_ = ops_.LockWorkFolder(path_);
    if (!locked_) return false;
    ops_.RemoveFolder(path_);
    return ops_.CreateWorkFolder(path_);
  }

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  PipelineOps& ops_;
  bool locked_ = false;
};

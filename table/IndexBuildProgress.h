#pragma once

#include <memory>
#include <string>

#include "platform/hooks.h"

namespace vz {

// The progress window of an index build: a status window whose text starts
// as 100 "|" and loses one with every step.
class IndexBuildProgress {
 public:
  explicit IndexBuildProgress(const std::string& caption);
  void Step();
  const std::string& Text() const { return text_; }

 private:
  std::unique_ptr<platform::StatusWindow> window_;
  std::string text_;
};

}  // namespace vz

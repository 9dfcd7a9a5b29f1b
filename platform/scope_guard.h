// Runs an action when a scope ends, however it ends (a raised error
// included), unless the guard was dismissed first:
//   ScopeGuard closeOnFailure([&] { CloseArea(); });
//   ...                         // may raise
//   closeOnFailure.Dismiss();   // done: keep what was opened
#pragma once

#include <utility>

namespace vz {

template <typename Action>
class ScopeGuard {
 public:
  explicit ScopeGuard(Action action) : action_(std::move(action)) {}
  ~ScopeGuard() {
    if (active_) action_();
  }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;

  void Dismiss() { active_ = false; }

 private:
  Action action_;
  bool active_ = true;
};

}  // namespace vz

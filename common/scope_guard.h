#pragma once
// Runs a piece of clean-up when the scope ends, on every way out, unless dismissed first. For
// one-off undo steps that do not deserve a class of their own:
//
//   const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS);
//   const auto restore = MakeScopeExit([previous] { SetErrorMode(previous); });
#include <type_traits>
#include <utility>

namespace kestrava {

template <typename Action>
class ScopeExit {
 public:
  explicit ScopeExit(Action action) noexcept(std::is_nothrow_move_constructible_v<Action>)
      : action_(std::move(action)) {}
  // The clean-up runs during unwinding too, where an escaping exception would end the program:
  // it must not throw.
  ~ScopeExit() noexcept {
    if (active_) action_();
  }
  // Neither copied nor moved: MakeScopeExit's result is built in place.
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

  // The clean-up is no longer wanted (the work it undoes has been handed over or never happened).
  void Dismiss() noexcept { active_ = false; }

 private:
  Action action_;
  bool active_ = true;
};

template <typename Action>
[[nodiscard]] ScopeExit<std::decay_t<Action>> MakeScopeExit(Action&& action) {
  return ScopeExit<std::decay_t<Action>>(std::forward<Action>(action));
}

}  // namespace kestrava

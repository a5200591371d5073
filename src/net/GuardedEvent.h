// An event for the hot paths: its handler is called in place, without a copy per call, and may
// still replace or clear the event while it runs (directly, or from a nested call while it
// pumps messages). A handler replaced during a call lives on until the outermost call has
// returned, so the running one never loses its captures. Handlers live on the heap, so that
// retiring one never moves it while it runs.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

template <class... Args>
class TGuardedEvent {
  public:
    using THandler = std::function<void(Args...)>;

    TGuardedEvent() = default;
    TGuardedEvent(const TGuardedEvent&) = delete;
    TGuardedEvent& operator=(const TGuardedEvent&) = delete;

    template <class F>
    requires std::is_constructible_v<THandler, F&&> TGuardedEvent& operator=(F&& Handler) {
        Replace(THandler(std::forward<F>(Handler)));
        return *this;
    }
    TGuardedEvent& operator=(std::nullptr_t) {
        Replace(THandler());
        return *this;
    }
    explicit operator bool() const { return Current != nullptr; }

    // False when no handler is assigned.
    bool Call(Args... Values) {
        if (!Current)
            return false;
        TCallScope Scope(*this);
        (*Current)(Values...);
        return true;
    }

  private:
    class TCallScope {
      public:
        explicit TCallScope(TGuardedEvent& Event) : event_(Event) { ++event_.Depth; }
        ~TCallScope() {
            if (--event_.Depth == 0)
                event_.Retired.clear();
        }
        TCallScope(const TCallScope&) = delete;
        TCallScope& operator=(const TCallScope&) = delete;

      private:
        TGuardedEvent& event_;
    };

    void Replace(THandler Handler) {
        if (Depth == 0 && Current && Handler) {
            *Current = std::move(Handler);  // nothing runs it: reuse its storage
            return;
        }
        if (Depth > 0 && Current)
            Retired.push_back(std::move(Current));
        Current = Handler ? std::make_unique<THandler>(std::move(Handler)) : nullptr;
    }

    std::unique_ptr<THandler> Current;               // never empty when set
    std::vector<std::unique_ptr<THandler>> Retired;  // replaced while a call ran
    int Depth = 0;                                   // calls running on the stack
};

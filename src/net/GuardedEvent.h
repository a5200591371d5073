// An event for the hot paths: its handler is called in place, without a copy per call, and may
// still replace or clear the event while it runs (directly, or from a nested call while it
// pumps messages). A handler replaced during a call lives on until the outermost call has
// returned, so the running one never loses its captures. Handlers live on the heap, so that
// retiring one never moves it while it runs.
//
// The handler is kept in a box of its own rather than in a std::function: a call is one
// indirect call with the arguments in registers, with no check for an empty function (a box
// is never empty) and no arguments passed by reference.
#pragma once

#include <cstddef>
#include <functional>
#include <type_traits>
#include <utility>

#include "sys/Assert.h"

template <class... Args>
class TGuardedEvent {
    struct TBox;

  public:
    // A handler taken out of an event: callable, and put back (or into another event of the
    // same kind) by assigning it with std::move. It lets a handler be chained to the one before.
    class THandler {
      public:
        THandler() = default;
        THandler(THandler&& Other) noexcept : Box(std::exchange(Other.Box, nullptr)) {}
        THandler& operator=(THandler&& Other) noexcept {
            std::swap(Box, Other.Box);
            return *this;
        }
        ~THandler() { Free(Box); }
        explicit operator bool() const { return Box != nullptr; }
        void operator()(Args... Values) const {
            if (Box != nullptr)
                Box->Invoke(Box, Values...);
        }

      private:
        friend class TGuardedEvent;
        TBox* Box = nullptr;
    };

  private:
    template <class F>
    static constexpr bool kHandler = !std::is_same_v<std::decay_t<F>, TGuardedEvent> &&
                                     !std::is_same_v<std::decay_t<F>, THandler> &&
                                     !std::is_same_v<std::decay_t<F>, std::nullptr_t> &&
                                     std::is_constructible_v<std::decay_t<F>, F&&> &&
                                     std::is_invocable_v<std::decay_t<F>&, Args&...>;

  public:
    TGuardedEvent() = default;
    TGuardedEvent(const TGuardedEvent&) = delete;
    TGuardedEvent& operator=(const TGuardedEvent&) = delete;
    ~TGuardedEvent() {
        Free(Current);
        FreeRetired();
    }

    // An empty std::function or a null function pointer clears the event, as nullptr does.
    template <class F>
    requires kHandler<F> TGuardedEvent& operator=(F&& Handler) {
        if (IsEmpty(Handler))
            Replace(nullptr);
        else
            Replace(new TBoxOf<std::decay_t<F>>(std::forward<F>(Handler)));
        return *this;
    }
    TGuardedEvent& operator=(std::nullptr_t) {
        Replace(nullptr);
        return *this;
    }
    TGuardedEvent& operator=(THandler&& Handler) {
        Replace(std::exchange(Handler.Box, nullptr));
        return *this;
    }
    // Leaves the event empty. Not from inside the handler's own call, which still needs it.
    THandler Take() {
        QV_ASSERT(Depth == 0, "an event's handler taken while it runs");
        THandler Taken;
        Taken.Box = std::exchange(Current, nullptr);
        return Taken;
    }
    explicit operator bool() const { return Current != nullptr; }

    // False when no handler is assigned.
    bool Call(Args... Values) {
        TBox* Box = Current;
        if (Box == nullptr)
            return false;
        ++Depth;
        try {
            Box->Invoke(Box, Values...);
        } catch (...) {
            Leave();
            throw;
        }
        Leave();
        return true;
    }

  private:
    struct TBox {
        void (*Invoke)(TBox*, Args...);
        void (*Destroy)(TBox*);
        TBox* NextRetired;
    };

    template <class F>
    struct TBoxOf final : TBox {
        template <class G>
        explicit TBoxOf(G&& Handler) : TBox{&Run, &Delete, nullptr}, Fn(std::forward<G>(Handler)) {}
        static void Run(TBox* Box, Args... Values) {
            std::invoke(static_cast<TBoxOf*>(Box)->Fn, Values...);
        }
        static void Delete(TBox* Box) { delete static_cast<TBoxOf*>(Box); }
        F Fn;
    };

    template <class T>
    struct TIsFunction : std::false_type {};
    template <class R, class... A>
    struct TIsFunction<std::function<R(A...)>> : std::true_type {};

    template <class F>
    static bool IsEmpty(const F& Handler) {
        using D = std::decay_t<F>;
        if constexpr (std::is_pointer_v<D> || std::is_member_pointer_v<D> || TIsFunction<D>::value)
            return Handler == nullptr;
        else
            return false;
    }

    void Leave() {
        if (--Depth == 0 && Retired != nullptr) [[unlikely]]
            FreeRetired();
    }

    static void Free(TBox* Box) {
        if (Box != nullptr)
            Box->Destroy(Box);
    }

    // Out of the call's way: it runs only after a handler was replaced during a call.
    [[gnu::noinline]] void FreeRetired() {
        while (TBox* Box = Retired) {
            Retired = Box->NextRetired;
            Box->Destroy(Box);
        }
    }

    // The new handler is in place before the old one goes, so that the old one's destructor
    // never meets the event half replaced.
    void Replace(TBox* Handler) {
        TBox* Old = Current;
        Current = Handler;
        if (Old == nullptr)
            return;
        if (Depth > 0) {
            Old->NextRetired = Retired;
            Retired = Old;
        } else {
            Old->Destroy(Old);
        }
    }

    TBox* Current = nullptr;  // never empty when set
    TBox* Retired = nullptr;  // replaced while a call ran, freed when the outermost returns
    int Depth = 0;            // calls running on the stack
};

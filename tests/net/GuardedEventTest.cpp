// The event that is called in place: a handler replaced or cleared while it runs, directly or
// by a nested call, stays alive until the outermost call has returned, and not longer.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/GuardedEvent.h"

namespace {

using TEvent = TGuardedEvent<int>;

struct TToken {};

TEST(GuardedEvent, ReplacedHandlerLivesUntilTheOutermostCallReturns) {
    struct TCase {
        const char* Name;
        int ReplaceAtDepth;  // the call at this depth (1: outermost) replaces the event
        bool Clear;          // with nothing instead of the next handler
        std::vector<std::string> Log;
    };
    const TCase cases[] = {
        {"replaced by itself", 1, false, {"next", "first 1"}},
        {"cleared by itself", 1, true, {"first 1"}},
        {"replaced by a nested call", 2, false, {"first 2", "first 1"}},
        {"cleared by a nested call", 2, true, {"first 2", "first 1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TEvent event;
        std::vector<std::string> log;
        auto token = std::make_shared<TToken>();
        const std::weak_ptr<TToken> watch = token;
        event = [&, token](int depth) {
            if (depth == c.ReplaceAtDepth) {
                if (c.Clear)
                    event = nullptr;
                else
                    event = [&](int) { log.push_back("next"); };
            }
            if (depth == 1)
                event.Call(2);  // as a handler that pumps messages may cause
            // Its own captures still hold, whoever replaced it.
            EXPECT_FALSE(watch.expired());
            log.push_back("first " + std::to_string(depth));
        };
        token.reset();
        EXPECT_TRUE(event.Call(1));
        EXPECT_TRUE(watch.expired());  // freed once the outermost call has returned
        EXPECT_EQ(log, c.Log);
        EXPECT_EQ(static_cast<bool>(event), !c.Clear);
        EXPECT_EQ(event.Call(1), !c.Clear);
    }
}

TEST(GuardedEvent, ReplacingOutsideACallFreesTheOldHandlerAtOnce) {
    TEvent event;
    EXPECT_FALSE(event.Call(0));
    auto token = std::make_shared<TToken>();
    const std::weak_ptr<TToken> watch = token;
    int calls = 0;
    event = [token, &calls](int) { ++calls; };
    token.reset();
    EXPECT_TRUE(event.Call(0));
    event = [&calls](int value) { calls += value; };
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(event.Call(10));
    EXPECT_EQ(calls, 11);
}

int gPointerCalls = 0;
void CountCall(int) {
    ++gPointerCalls;
}

// What may be assigned: an empty std::function or a null function pointer clears the event, as
// nullptr does, instead of leaving a handler that cannot be called.
TEST(GuardedEvent, EmptyFunctionsClearTheEvent) {
    struct TCase {
        const char* Name;
        std::function<void(TEvent&, int&)> Assign;  // the int counts calls of the handler
        bool Set;
    };
    const TCase cases[] = {
        {"empty std::function", [](TEvent& e, int&) { e = std::function<void(int)>(); }, false},
        {"null function pointer",
         [](TEvent& e, int&) {
             void (*none)(int) = nullptr;
             e = none;
         },
         false},
        {"std::function",
         [](TEvent& e, int& calls) { e = std::function<void(int)>([&calls](int) { ++calls; }); },
         true},
        {"function pointer", [](TEvent& e, int&) { e = &CountCall; }, true},
        {"move-only handler",
         [](TEvent& e, int& calls) {
             e = [&calls, owned = std::make_unique<int>(1)](int) { calls += *owned; };
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TEvent event;
        int calls = 0;
        event = [&calls](int) { calls += 100; };  // replaced or cleared by the assignment
        gPointerCalls = 0;
        c.Assign(event, calls);
        EXPECT_EQ(static_cast<bool>(event), c.Set);
        EXPECT_EQ(event.Call(0), c.Set);
        EXPECT_EQ(calls + gPointerCalls, c.Set ? 1 : 0);
    }
}

}  // namespace

// The way a handler is chained to the one before it: the taken handler keeps its captures, is
// called through the new one, and goes with it.
TEST(GuardedEvent, TakenHandlerChainsAndLivesAsLongAsItsHolder) {
    TEvent event;
    std::vector<std::string> log;
    auto token = std::make_shared<TToken>();
    const std::weak_ptr<TToken> watch = token;
    event = [&log, token](int n) { log.push_back("first " + std::to_string(n)); };
    token.reset();
    event = [&log, prev = event.Take()](int n) {
        prev(n);
        log.push_back("second " + std::to_string(n));
    };
    EXPECT_TRUE(event.Call(7));
    EXPECT_EQ(log, (std::vector<std::string>{"first 7", "second 7"}));
    EXPECT_FALSE(watch.expired());
    event = nullptr;
    EXPECT_TRUE(watch.expired());

    event = [&log](int) { log.push_back("put back"); };
    TEvent::THandler held = event.Take();
    EXPECT_FALSE(event.Call(1));  // empty while taken
    event = std::move(held);
    EXPECT_FALSE(held);
    EXPECT_TRUE(event.Call(1));
    EXPECT_EQ(log.back(), "put back");
}

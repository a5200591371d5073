// Debug checks of invariants: QV_ASSERT(cond, "what broke") prints file, line and the message
// to standard error and aborts when cond is false. Release builds (NDEBUG) compile the check
// out; the condition is then not evaluated, so it must have no effects the program needs.
#pragma once

namespace sys {

[[noreturn]] void AssertFailed(const char* condition, const char* message, const char* file,
                               int line);

}  // namespace sys

#ifdef NDEBUG
#define QV_ASSERT(cond, message) static_cast<void>(sizeof(!(cond)))
#else
#define QV_ASSERT(cond, message) \
    ((cond) ? static_cast<void>(0) : ::sys::AssertFailed(#cond, message, __FILE__, __LINE__))
#endif

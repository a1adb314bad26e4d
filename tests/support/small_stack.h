// Runs test code on a thread with the smallest stack the C library allows,
// as camera processes give their helper threads: library calls that keep
// large buffers on the stack overflow there.
//
// Thread-safety: call from any thread; blocks until `body` has returned.
#ifndef TESTS_SUPPORT_SMALL_STACK_H_
#define TESTS_SUPPORT_SMALL_STACK_H_

#include <stddef.h>

#include <functional>

namespace isputils_test {

// The stack size RunOnSmallestStack gives its thread: PTHREAD_STACK_MIN, or
// a multiple of it under AddressSanitizer, whose red zones inflate every
// frame.
size_t SmallestStackSize();

// Runs `body` on a new thread of SmallestStackSize() bytes of stack and
// waits for it. Returns false when the thread could not be started.
bool RunOnSmallestStack(const std::function<void()>& body);

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_SMALL_STACK_H_

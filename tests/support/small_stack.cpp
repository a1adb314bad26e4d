// A thread with a minimal stack for test code.
#include "tests/support/small_stack.h"

#include <limits.h>
#include <pthread.h>

namespace isputils_test {
namespace {

void* RunBody(void* body) {
  (*static_cast<const std::function<void()>*>(body))();
  return nullptr;
}

}  // namespace

size_t SmallestStackSize() {
#if defined(__SANITIZE_ADDRESS__)
  return 4 * PTHREAD_STACK_MIN;
#else
  return PTHREAD_STACK_MIN;
#endif
}

bool RunOnSmallestStack(const std::function<void()>& body) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_t thread;
  const bool started = pthread_attr_setstacksize(&attributes, SmallestStackSize()) == 0 &&
                       pthread_create(&thread, &attributes, RunBody,
                                      const_cast<std::function<void()>*>(&body)) == 0;
  pthread_attr_destroy(&attributes);
  if (started) pthread_join(thread, nullptr);
  return started;
}

}  // namespace isputils_test

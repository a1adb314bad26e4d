// The empty variadic baseline; see empty_call.h.
#include "tests/bench/log_service/empty_call.h"

extern "C" int empty_log_print(int, const char*, const char*, ...) { return 0; }

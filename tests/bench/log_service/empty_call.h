// Baseline for the platform log's cheapest path: a variadic function with
// the same signature as platform_log_print that does nothing, exported from
// a shared library of its own so that the call crosses the same PLT.
//
// Thread-safety: does nothing, so safe anywhere.
#ifndef TESTS_BENCH_LOG_SERVICE_EMPTY_CALL_H_
#define TESTS_BENCH_LOG_SERVICE_EMPTY_CALL_H_

#ifdef __cplusplus
extern "C" {
#endif

// Returns 0 without touching its arguments.
__attribute__((visibility("default"))) int empty_log_print(int priority, const char* tag,
                                                           const char* format, ...);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // TESTS_BENCH_LOG_SERVICE_EMPTY_CALL_H_

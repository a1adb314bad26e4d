// Process-wide settings of the logging facility shared between its units:
// the switches taken once from the environment, and setters that bypass the
// environment step (they are what the environment step itself uses).
// Internal to libbase-core.
//
// Thread-safety: all functions may be called from any thread.
#ifndef PLATFORM_BASE_CORE_LOG_STATE_H_
#define PLATFORM_BASE_CORE_LOG_STATE_H_

#include <string_view>

namespace logging {
namespace internal {

// Names of the environment variables that act as the "--v" and "--vmodule"
// switches of a process.
inline constexpr char kVlogEnvironmentVariable[] = "BASE_LOG_V";
inline constexpr char kVmoduleEnvironmentVariable[] = "BASE_LOG_VMODULE";

// Applies the environment switches the first time it is called in the
// process and does nothing afterwards. Every public setter and getter calls
// it first, so settings made from code always win over the environment.
void EnsureEnvironmentApplied();

// Stores the minimum log level, clamped at LOGGING_FATAL.
void StoreMinLogLevel(int level);

// Sets the switches without the environment step.
void ApplyVlogSwitches(std::string_view v, std::string_view vmodule);

}  // namespace internal
}  // namespace logging

#endif  // PLATFORM_BASE_CORE_LOG_STATE_H_

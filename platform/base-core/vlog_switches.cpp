// The "--v" and "--vmodule" switches of the process and the per-file
// verbose level derived from them.
#include <string.h>

#include <atomic>
#include <limits>
#include <mutex>
#include <string>

#include "base/logging.h"
#include "platform/base-core/log_state.h"
#include "platform/base-core/vmodule_patterns.h"

namespace logging {

namespace {

std::mutex g_vmodule_mutex;  // Trivially destructible with glibc.
// Lets lookups skip the lock while no pattern list is set: the common case,
// and what keeps a refused verbose message cheap.
std::atomic<bool> g_has_vmodule_patterns{false};

// Never destroyed, so that code logging from static destructors of other
// libraries still finds a valid list.
internal::VmodulePatterns& VmodulePatternsLocked() {
  static internal::VmodulePatterns* patterns = new internal::VmodulePatterns;
  return *patterns;
}

}  // namespace

namespace internal {

void ApplyVlogSwitches(std::string_view v, std::string_view vmodule) {
  int vlog_level = 0;
  if (!v.empty() && ParseVlogInt(v, &vlog_level)) {
    // Guard the negation: -INT_MIN does not exist.
    StoreMinLogLevel(vlog_level == std::numeric_limits<int>::min()
                         ? std::numeric_limits<int>::max()
                         : -vlog_level);
  }
  VmodulePatterns parsed = ParseVmodule(vmodule);
  std::lock_guard<std::mutex> lock(g_vmodule_mutex);
  bool has_patterns = !parsed.empty();
  VmodulePatternsLocked().swap(parsed);
  g_has_vmodule_patterns.store(has_patterns, std::memory_order_relaxed);
}

}  // namespace internal

void SetVlogSwitches(const std::string& v, const std::string& vmodule) {
  internal::EnsureEnvironmentApplied();
  internal::ApplyVlogSwitches(v, vmodule);
}

int GetVlogLevelHelper(const char* file, size_t N) {
  int fallback = GetVlogVerbosity();  // Applies the environment first.
  if (!g_has_vmodule_patterns.load(std::memory_order_relaxed)) return fallback;
  std::string_view path;
  if (file != nullptr && N > 0) path = std::string_view(file, strnlen(file, N - 1));
  std::lock_guard<std::mutex> lock(g_vmodule_mutex);
  return internal::VlogLevelForPath(VmodulePatternsLocked(), path, fallback);
}

}  // namespace logging

// Pattern matching of the "--vmodule" switch, exposed for tools and tests
// that want to check a pattern against a file name without logging.
//
// Thread-safety: a pure function; safe from any thread.
#ifndef PLATFORM_BASE_CORE_INCLUDE_BASE_VLOG_H_
#define PLATFORM_BASE_CORE_INCLUDE_BASE_VLOG_H_

#include <string_view>

#include "base/base_export.h"

namespace logging {

// Returns true when `vlog_pattern` matches the whole of `string`. '*' matches
// any run of characters (also none), '?' exactly one character, and a slash
// or backslash in the pattern matches either separator in `string`; every
// other character matches itself.
BASE_EXPORT bool MatchVlogPattern(std::string_view string,
                                  std::string_view vlog_pattern);

}  // namespace logging

#endif  // PLATFORM_BASE_CORE_INCLUDE_BASE_VLOG_H_

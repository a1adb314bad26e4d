// The parsed "--vmodule" list and the rules that pick a file's verbose level
// from it. Internal to libbase-core.
//
// Thread-safety: the functions are pure; a VmodulePatterns value must be
// guarded by its owner when shared between threads.
#ifndef PLATFORM_BASE_CORE_VMODULE_PATTERNS_H_
#define PLATFORM_BASE_CORE_VMODULE_PATTERNS_H_

#include <string>
#include <string_view>
#include <vector>

namespace logging {
namespace internal {

// One "pattern=level" entry of the list.
struct VmodulePattern {
  std::string pattern;
  int vlog_level = 0;
  // Patterns naming a directory are matched against the whole path, all
  // others against the module name alone.
  bool match_whole_path = false;
};

using VmodulePatterns = std::vector<VmodulePattern>;

// Parses a whole-text decimal integer with an optional sign. Returns false,
// leaving *out alone, for empty text, trailing junk or overflow.
bool ParseVlogInt(std::string_view text, int* out);

// Parses "pattern=level,pattern=level". Entries without '=' or with an empty
// pattern are skipped; a level that is no number counts as 0.
VmodulePatterns ParseVmodule(std::string_view vmodule);

// The module name of a source path: its base name without the last
// extension and without a trailing "-inl" ("a/b/foo-inl.h" gives "foo").
std::string_view ModuleOfPath(std::string_view path);

// The level of the first pattern that matches `path`, else `fallback`.
int VlogLevelForPath(const VmodulePatterns& patterns, std::string_view path,
                     int fallback);

}  // namespace internal
}  // namespace logging

#endif  // PLATFORM_BASE_CORE_VMODULE_PATTERNS_H_

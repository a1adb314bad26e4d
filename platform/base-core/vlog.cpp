// The "--vmodule" rules: pattern matching, parsing of the list and the
// module name of a source path.
#include "base/vlog.h"

#include <limits>

#include "platform/base-core/vmodule_patterns.h"

namespace logging {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Whether one pattern character matches one character of the text; a
// separator matches either separator so that patterns written with forward
// slashes also match paths with backslashes.
bool CharMatches(char pattern_char, char c) {
  if (pattern_char == '?') return true;
  if (IsSeparator(pattern_char)) return IsSeparator(c);
  return pattern_char == c;
}

}  // namespace

bool MatchVlogPattern(std::string_view string, std::string_view vlog_pattern) {
  // Iterative glob match with single backtracking point: on a mismatch after
  // a '*', let that star swallow one more character and retry. Linear
  // memory and at worst quadratic time, never recursive.
  size_t s = 0;
  size_t p = 0;
  size_t star_p = std::string_view::npos;
  size_t star_s = 0;
  while (s < string.size()) {
    if (p < vlog_pattern.size() && vlog_pattern[p] == '*') {
      star_p = p++;
      star_s = s;
    } else if (p < vlog_pattern.size() && CharMatches(vlog_pattern[p], string[s])) {
      ++p;
      ++s;
    } else if (star_p != std::string_view::npos) {
      p = star_p + 1;
      s = ++star_s;
    } else {
      return false;
    }
  }
  while (p < vlog_pattern.size() && vlog_pattern[p] == '*') ++p;
  return p == vlog_pattern.size();
}

namespace internal {

bool ParseVlogInt(std::string_view text, int* out) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return false;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) {
      return false;
    }
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int>::max()) return false;
  *out = static_cast<int>(value);
  return true;
}

VmodulePatterns ParseVmodule(std::string_view vmodule) {
  VmodulePatterns patterns;
  while (!vmodule.empty()) {
    size_t comma = vmodule.find(',');
    std::string_view entry = vmodule.substr(0, comma);
    vmodule = comma == std::string_view::npos ? std::string_view()
                                              : vmodule.substr(comma + 1);
    size_t equals = entry.find('=');
    if (equals == std::string_view::npos || equals == 0) continue;
    VmodulePattern pattern;
    pattern.pattern = std::string(entry.substr(0, equals));
    if (!ParseVlogInt(entry.substr(equals + 1), &pattern.vlog_level)) {
      pattern.vlog_level = 0;
    }
    pattern.match_whole_path =
        pattern.pattern.find_first_of("/\\") != std::string::npos;
    patterns.push_back(std::move(pattern));
  }
  return patterns;
}

std::string_view ModuleOfPath(std::string_view path) {
  size_t last_separator = path.find_last_of("/\\");
  std::string_view module =
      last_separator == std::string_view::npos ? path : path.substr(last_separator + 1);
  size_t extension = module.rfind('.');
  if (extension != std::string_view::npos) module = module.substr(0, extension);
  constexpr std::string_view kInlineSuffix = "-inl";
  if (module.size() >= kInlineSuffix.size() &&
      module.substr(module.size() - kInlineSuffix.size()) == kInlineSuffix) {
    module.remove_suffix(kInlineSuffix.size());
  }
  return module;
}

int VlogLevelForPath(const VmodulePatterns& patterns, std::string_view path,
                     int fallback) {
  std::string_view module = ModuleOfPath(path);
  for (const VmodulePattern& entry : patterns) {
    std::string_view target = entry.match_whole_path ? path : module;
    if (MatchVlogPattern(target, entry.pattern)) return entry.vlog_level;
  }
  return fallback;
}

}  // namespace internal
}  // namespace logging

// The emulator's command, generated from the build's configuration.
#include "tests/support/target_program.h"

#include <stdlib.h>
#include <string.h>

namespace isputils_test {
namespace {

// Empty natively; else the emulator's program (absolute) and its options.
const char* const kEmulator[] = {
#include "target_emulator.inc"
    nullptr};

void AppendToVariable(const char* name, const std::string& text, const char* separator) {
  const char* old = getenv(name);
  const std::string value = old == nullptr || *old == '\0' ? text : old + (separator + text);
  setenv(name, value.c_str(), 1);
}

// The emulated program's LD_PRELOAD as QEMU_SET_ENV sets it: QEMU applies
// the list in order, so the last setting of the variable wins.
std::string EmulatedPreload() {
  const char* settings = getenv("QEMU_SET_ENV");
  if (settings == nullptr) return "";
  const std::string list = std::string(",") + settings;
  const std::string key = ",LD_PRELOAD=";
  const size_t at = list.rfind(key);
  if (at == std::string::npos) return "";
  const size_t begin = at + key.size();
  return list.substr(begin, list.find(',', begin) - begin);
}

}  // namespace

bool RunsUnderEmulator() { return kEmulator[0] != nullptr; }

std::vector<std::string> TargetCommand(const std::string& program,
                                       const std::vector<std::string>& arguments) {
  std::vector<std::string> command;
  for (const char* const* part = kEmulator; *part != nullptr; ++part) command.push_back(*part);
  command.push_back(program);
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

void PreloadInChildren(const std::string& library) {
  const char* native = getenv("LD_PRELOAD");
  const std::string old = RunsUnderEmulator() ? EmulatedPreload() : native != nullptr ? native : "";
  const std::string list = old.empty() ? library : library + " " + old;
  if (RunsUnderEmulator()) {
    AppendToVariable("QEMU_SET_ENV", "LD_PRELOAD=" + list, ",");
  } else {
    setenv("LD_PRELOAD", list.c_str(), 1);
  }
#if defined(__SANITIZE_ADDRESS__)
  // GCC's shared AddressSanitizer runtime wants to be loaded first; the
  // libraries preloaded here intercept nothing the sanitizer relies on.
  AppendToVariable("ASAN_OPTIONS", "verify_asan_link_order=0", ":");
#endif
}

}  // namespace isputils_test

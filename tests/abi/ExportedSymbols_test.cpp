// Checks that each shared library exports exactly the symbols of its list:
// nothing missing (callers would fail to load) and nothing extra (a hidden
// helper, an inline function or a template instantiation that leaked and
// that callers could start to depend on). Each list, <library>.symbols, holds
// one demangled symbol per line, sorted; a constructor or destructor appears
// once per variant the compiler emits (complete, base, deleting), since the
// variants demangle alike.
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/program_run.h"

namespace {

struct AbiLibrary {
  const char* name;
  const char* path;
  const char* symbolsFile;
};

constexpr AbiLibrary kLibraries[] = {
#include "abi_libraries.inc"
};

// Symbols that sanitizer instrumentation adds to every library it builds;
// they are not part of the interface.
bool IsInstrumentation(const std::string& symbol) {
  for (const char* prefix : {"__asan", "__odr_asan", "__ubsan", "__tsan", "__sanitizer"}) {
    if (symbol.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

// Runs nm on `path` and returns the demangled names of the dynamic symbols
// it defines, sorted. Sets *ok to false when nm cannot be run or fails.
std::vector<std::string> ExportedSymbols(const std::string& path, bool* ok) {
  // A program of the build machine: it reads the target's files natively.
  isputils_test::ProgramOptions merged;
  merged.merged = true;  // a complaint of nm shows as an unparsed line
  const isputils_test::ProgramResult nm = isputils_test::RunProgram(
      {ISPUTILS_NM, "-D", "--defined-only", "--demangle", path}, merged);
  *ok = nm.status == 0;
  std::vector<std::string> symbols;
  std::istringstream lines(nm.out + nm.err);
  std::string text;
  while (std::getline(lines, text)) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    // "<address> <type letter> <name>"; the name may itself hold blanks.
    const size_t typeStart = text.find(' ');
    const size_t nameStart = typeStart == std::string::npos ? typeStart
                                                            : text.find(' ', typeStart + 1);
    if (nameStart == std::string::npos) {
      symbols.push_back("unparsed nm output: " + text);
      continue;
    }
    std::string name = text.substr(nameStart + 1);
    if (!IsInstrumentation(name)) symbols.push_back(name);
  }
  std::sort(symbols.begin(), symbols.end());
  return symbols;
}

std::vector<std::string> ExpectedSymbols(const std::string& file, bool* ok) {
  std::vector<std::string> symbols;
  std::ifstream in(file);
  *ok = static_cast<bool>(in);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) symbols.push_back(line);
  }
  std::sort(symbols.begin(), symbols.end());
  return symbols;
}

// Each line of `from` that `minus` lacks (as multisets), one per line.
std::string Difference(const std::vector<std::string>& from,
                       const std::vector<std::string>& minus) {
  std::vector<std::string> rest;
  std::set_difference(from.begin(), from.end(), minus.begin(), minus.end(),
                      std::back_inserter(rest));
  std::string text;
  for (const std::string& symbol : rest) text += symbol + "\n";
  return text;
}

TEST(ExportedSymbolsTest, EachLibraryExportsExactlyItsList) {
  for (const AbiLibrary& library : kLibraries) {
    SCOPED_TRACE(library.name);
    bool listRead = false;
    const std::vector<std::string> expected = ExpectedSymbols(library.symbolsFile, &listRead);
    ASSERT_TRUE(listRead) << "cannot read " << library.symbolsFile;
    ASSERT_FALSE(expected.empty()) << library.symbolsFile << " lists nothing";
    bool nmRan = false;
    const std::vector<std::string> actual = ExportedSymbols(library.path, &nmRan);
    ASSERT_TRUE(nmRan) << "nm failed on " << library.path;
    EXPECT_EQ(Difference(expected, actual), "") << "missing from " << library.path;
    EXPECT_EQ(Difference(actual, expected), "") << "exported but not listed in "
                                                 << library.symbolsFile;
  }
}

}  // namespace

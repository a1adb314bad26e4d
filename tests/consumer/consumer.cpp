// A minimal client of the installed libraries: stores and reads a property,
// logs through the platform log, and uses the ISP buffer classes across the
// library boundary (virtual calls and type information included). Built
// once through the CMake package and once through pkg-config; it prints
// "consumer: ok" and exits 0 when every check holds, else names the first
// failure and exits 1.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <typeinfo>
#include <utility>

#include "isphal/Buffer.h"
#include "isphal/TuningBuffer.h"
#include "platlog/platform_log.h"
#include "propstore/properties.h"

namespace {

int failures = 0;

void Expect(bool holds, const char* what) {
  if (holds) return;
  fprintf(stderr, "consumer: FAILED: %s\n", what);
  ++failures;
}

void UseProperties() {
  Expect(property_set("vendor.consumer.frames", "42") == 0, "property_set stores");
  Expect(property_get_int32("vendor.consumer.frames", -1) == 42, "int32 reads back");
  char value[PROPERTY_VALUE_SIZE];
  Expect(property_get("vendor.consumer.missing", value, "dflt") == 4 &&
             strcmp(value, "dflt") == 0,
         "fallback of an unset key");
}

void UseLog() {
  Expect(test_log_level('E', 1) == 1 && test_log_level('V', 1) == 0,
         "priority filter at level 1");
  Expect(platform_log_print('I', "consumer", "frame %d done", 7) == 0, "log print");
}

void UseBuffers() {
  using qvx::isphal::Buffer;
  using qvx::isphal::TuningBuffer;
  TuningBuffer owned(4);
  owned.set(2, 0xabcdu);
  Expect(owned.get(2) == 0xabcdu && owned.hasStorage(), "owning tuning buffer");

  uint32_t words[3] = {1, 2, 3};
  TuningBuffer wrapped(words, 3, TuningBuffer::WRAP);
  TuningBuffer copy = wrapped;  // a view of a view: the same words
  copy.set(0, 9);
  Expect(words[0] == 9 && !copy.hasStorage(), "wrapping tuning buffer");

  TuningBuffer moved(std::move(owned));
  Expect(owned.isEmpty() && moved.getCount() == 4, "move empties the source");

  Buffer empty;
  const Buffer& as_base = empty;
  Expect(as_base.isEmpty() && !static_cast<bool>(as_base), "virtual calls on Buffer");
  Expect(typeid(moved) == typeid(TuningBuffer), "type information crosses");
}

}  // namespace

int main() {
  UseProperties();
  UseLog();
  UseBuffers();
  if (failures != 0) return 1;
  printf("consumer: ok\n");
  return 0;
}

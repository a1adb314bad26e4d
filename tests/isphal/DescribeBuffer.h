// Renders a Buffer's whole observable state as one line, so that a test
// checks every field with one assertion and a failure shows them all.
//
// Thread-safety: reads the Buffer only.
#ifndef TESTS_ISPHAL_DESCRIBEBUFFER_H_
#define TESTS_ISPHAL_DESCRIBEBUFFER_H_

#include <stdio.h>

#include <string>

#include "isphal/Buffer.h"

namespace isputils_test {

inline std::string DescribeBuffer(const qvx::isphal::Buffer& buffer) {
  char text[256];
  snprintf(text, sizeof(text),
           "va=%lx fd=%d offset=%lu size=%lu format=%d geometry=%lux%lu/%lu%s%s%s",
           static_cast<unsigned long>(buffer.getVa()), buffer.getFd(),
           buffer.getOffset(), buffer.getBufferSize(),
           static_cast<int>(buffer.getBufferFormat()), buffer.getWidth(),
           buffer.getHeight(), buffer.getStride(),
           buffer.hasGeometry() ? " has-geometry" : "",
           buffer.isEmpty() ? " empty" : "",
           static_cast<bool>(buffer) ? " true" : "");
  return text;
}

}  // namespace isputils_test

#endif  // TESTS_ISPHAL_DESCRIBEBUFFER_H_

// Capturing message handler for the platform log tests.
#include "tests/log_service/log_capture.h"

#include <mutex>

#include "base/logging.h"

namespace isputils_test {

namespace {

std::mutex g_mutex;
std::vector<CapturedLine>* g_lines = nullptr;
logging::LogMessageHandlerFunction g_previous = nullptr;

bool CaptureHandler(int severity, const char* file, int line,
                    size_t message_start, const std::string& str) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_lines == nullptr) return false;
  std::string text = str.substr(message_start);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  g_lines->push_back({severity, file != nullptr ? file : "", line, text});
  return true;
}

}  // namespace

LogCapture::LogCapture() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_lines = new std::vector<CapturedLine>;
  g_previous = logging::GetLogMessageHandler();
  logging::SetLogMessageHandler(&CaptureHandler);
}

LogCapture::~LogCapture() {
  logging::SetLogMessageHandler(g_previous);
  std::lock_guard<std::mutex> lock(g_mutex);
  delete g_lines;
  g_lines = nullptr;
}

std::vector<CapturedLine> LogCapture::Lines() const {
  std::lock_guard<std::mutex> lock(g_mutex);
  return *g_lines;
}

std::string LogCapture::Render() const {
  std::string out;
  for (const CapturedLine& line : Lines()) {
    if (!out.empty()) out += "\n";
    out += std::to_string(line.severity) + "|" + line.text;
  }
  return out;
}

void LogCapture::Clear() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_lines->clear();
}

}  // namespace isputils_test

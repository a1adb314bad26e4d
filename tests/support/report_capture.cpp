// Recording sinks for everything that reports through the error report.
#include "tests/support/report_capture.h"

#include <stdio.h>

#include <utility>

#include "base/logging.h"
#include "propstore/properties.h"

namespace isputils_test {
namespace {

using ::Pelkor::Utils::ULog::ULogger;

// The facility's handler is a plain function; it finds the live capture here.
ReportCapture* gActiveCapture = nullptr;

std::string RenderUlogEvent(int32_t moduleId, const std::string& tag, int32_t detailsType,
                            int32_t length, const std::string& text) {
  char head[64];
  snprintf(head, sizeof(head), "ulog %#x ", static_cast<unsigned>(moduleId));
  return std::string(head) + tag + " " + std::to_string(detailsType) + " " +
         std::to_string(length) + " " + text;
}

}  // namespace

ReportCapture::ReportCapture(int32_t mode)
    : savedMode_(ULogger::sMode),
      savedLogger_(ULogger::sULogger),
      savedDetailsLevel_(ULogger::sDetailsLevel),
      savedDetailsMask_(ULogger::sNormalDetailsMask) {
  gActiveCapture = this;
  logging::SetLogMessageHandler(&ReportCapture::HandleLogLine);
  ULogger::sULogger = this;
  ULogger::sDetailsLevel = 0;
  ULogger::sNormalDetailsMask = 0;
  ULogger::sMode = mode;
}

ReportCapture::~ReportCapture() {
  ULogger::sMode = savedMode_;
  ULogger::sULogger = savedLogger_;
  ULogger::sDetailsLevel = savedDetailsLevel_;
  ULogger::sNormalDetailsMask = savedDetailsMask_;
  logging::SetLogMessageHandler(nullptr);
  gActiveCapture = nullptr;
}

void ReportCapture::SetMode(int32_t mode) { ULogger::sMode = mode; }

void ReportCapture::SetDetails(uint32_t level, int32_t mask) {
  ULogger::sDetailsLevel = level;
  ULogger::sNormalDetailsMask = mask;
}

void ReportCapture::SetPlatformLineHook(std::function<void()> hook) {
  platformLineHook_ = std::move(hook);
}

std::string ReportCapture::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string all;
  for (const std::string& event : events_) {
    if (!all.empty()) all += '\n';
    all += event;
  }
  return all;
}

size_t ReportCapture::EventCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_.size();
}

void ReportCapture::ClearEvents() {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.clear();
}

std::string ReportCapture::UlogEvent(const std::string& tag, int32_t detailsType,
                                     const std::string& text) {
  constexpr int32_t kIspHalModuleId = 0x40007009;
  return RenderUlogEvent(kIspHalModuleId, tag, detailsType,
                         static_cast<int32_t>(text.size()), text);
}

void ReportCapture::emitDetails(int32_t moduleId, const char* tag, int32_t detailsType,
                                const char* text, int32_t length) {
  Record(RenderUlogEvent(moduleId, tag, detailsType, length, text));
}

bool ReportCapture::HandleLogLine(int severity, const char*, int, size_t messageStart,
                                  const std::string& str) {
  ReportCapture* capture = gActiveCapture;
  if (capture == nullptr) return false;
  std::string text = messageStart <= str.size() ? str.substr(messageStart) : str;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  capture->Record("log " + std::to_string(severity) + " " + text);
  if (capture->platformLineHook_) capture->platformLineHook_();
  return true;
}

void ReportCapture::Record(std::string event) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(std::move(event));
}

void EnablePlatformDebugLines() {
  property_set("persist.qvx.camera.log_level", "3");
  logging::SetVlogSwitches("", "platform_log=3");
}

}  // namespace isputils_test

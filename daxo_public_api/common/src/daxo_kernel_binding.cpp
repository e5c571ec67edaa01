// The process-wide (per package) binding to the engine kernel and the few
// engine services the runtime library itself needs.
#include <time.h>

#include <cstdio>

#include "daxo_kernel.h"
#include "daxo_string.h"

DAXOKernel* DAXOPrivate::kernel = nullptr;

void DAXOPrivate::Report(const char* text, int level, int code, bool engineFlag) {
  if (kernel != nullptr) {
    kernel->Report(text, level, code, engineFlag);
    return;
  }
  static const char* const kLevels[] = {"info", "warning", "error", "echo"};
  const char* name = (level >= 0 && level <= 3) ? kLevels[level] : "report";
  std::fprintf(stderr, "[%s %d] %s\n", name, code, text != nullptr ? text : "");
}

DAXOTimestamp DAXO::GetSystemAccurateTiming() {
  if (DAXOPrivate::kernel != nullptr) return DAXOPrivate::kernel->GetSystemAccurateTiming();
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000L + ts.tv_nsec / 1000;
}

namespace {
void ExternalReport(const char* text, int level, int code) {
  DAXOStackedString<40> full("External : ");
  full += text;
  DAXOPrivate::Report(full, level, code, false);
}
}  // namespace

void DAXO::ReportInfo(const char* text, int code) {
  ExternalReport(text, DAXO::Info, code);
}
void DAXO::ReportWarning(const char* text, int code) {
  ExternalReport(text, DAXO::Warning, code);
}
void DAXO::ReportError(const char* text, int code) {
  ExternalReport(text, DAXO::Error, code);
}

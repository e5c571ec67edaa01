#include "component_runner.h"

#include <exception>

#include "daxo_component.h"

namespace velquor {

namespace {

constexpr const char* kCatchUp = " Trying to catch up but the component might crash later.";

/// Reports the exception being handled; DAXO::ModuleDied is the normal end
/// of a component that ended itself or was woken by its die event.
void ReportFailure(const std::string& who, const ComponentReport& report) {
  try {
    throw;
  } catch (int code) {
    if (code == DAXO::ModuleDied) return;
    if (code == DAXO::ErrorException) {
      report(who + " (threaded) died due to an error.", DAXO::Warning, 1, true);
    } else {
      report(who + " : Fatal error : Unhandled integer exception thrown (" + std::to_string(code) +
                 ")." + kCatchUp,
             DAXO::Error, 0, true);
    }
  } catch (const char* text) {
    report(who + " : Fatal error : Unhandled string thrown: " + (text != nullptr ? text : "") +
               kCatchUp,
           DAXO::Error, 0, true);
  } catch (const std::exception& e) {
    report(who + " : Fatal error : Unhandled std::exception thrown: " + e.what() + kCatchUp,
           DAXO::Error, 0, true);
  } catch (...) {
    report(who + " : Fatal error : Unhandled exception thrown." + kCatchUp, DAXO::Error, 0, true);
  }
}

}  // namespace

void RunComponentLife(DAXOComponent& component, const ComponentReport& report) {
  std::string who;
  try {
    who = std::string(component.Kind()) + " " + (component.name != nullptr ? component.name : "");
    component.Birth();
    component.SignalBirth();
    while (!component.AskedToDie()) {
      component.PerformanceMonitoring();
      component.Core();
    }
  } catch (...) {
    try {
      ReportFailure(who, report);
    } catch (...) {
      // Nothing left to report with; the death sequence still runs.
    }
  }
  try {
    // Marks the component dying (when a failure ended it) and ends in its
    // dead state.
    component.RunDeathSequence();
  } catch (...) {
    try {
      report(who + " : Fatal error : exception thrown from the death sequence.", DAXO::Error, 0,
             true);
    } catch (...) {
    }
  }
}

}  // namespace velquor

#include "component_runner.h"

#include <exception>

#include "daxo_component.h"
#include "engine_thread.h"

namespace velquor {

namespace {

constexpr const char* kCatchUp = " Trying to catch up but the component might crash later.";

/// The report of a life ended by a component error.
void ReportErrorDeath(const std::string& who, const ComponentReport& report) {
  report(who + " (threaded) died due to an error.", DAXO::Warning, 1, true);
}

/// Reports the exception being handled; DAXO::ModuleDied is the normal end
/// of a component that ended itself or was woken by its die event.
void ReportFailure(const std::string& who, const ComponentReport& report) {
  try {
    throw;
  } catch (int code) {
    if (code == DAXO::ModuleDied) return;
    if (code == DAXO::ErrorException) {
      ReportErrorDeath(who, report);
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
  } catch (...) {
    // Reports go without a name.
  }
  // The thread is one of the component's from before Birth until its last
  // Core has returned: the death sequence may end with the component
  // destroyed, so the thread leaves the list before it.
  ModuleThreadListing listing(
      component, who, [&report](const std::string& text) { report(text, DAXO::Warning, 0, true); });
  try {
    // A Birth or Core during which a reading or writing call failed is the
    // last step: the life ends as if that step had raised Error.
    component.Birth();
    bool failed = component.PrimitiveFailed();
    if (!failed) component.SignalBirth();
    while (!failed && !component.AskedToDie()) {
      component.PerformanceMonitoring();
      component.Core();
      failed = component.PrimitiveFailed();
    }
    if (failed) ReportErrorDeath(who, report);
  } catch (...) {
    try {
      ReportFailure(who, report);
    } catch (...) {
      // Nothing left to report with; the death sequence still runs.
    }
  }
  listing.End();
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

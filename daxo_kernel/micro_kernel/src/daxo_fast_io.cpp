// The non-template part of the output FIFO: fatal-error reports and the
// monitor of a DAXOOutput. See include/daxo_fast_io.h.
#include "daxo_fast_io.h"

#include "daxo_kernel.h"
#include "daxo_services.h"
#include "daxo_string.h"

void DAXOPrivate::FastIOFatalError(const char* message) {
  DAXO::ReportError(message, 1);
  throw int(DAXO::ErrorException);
}

void DAXOPrivate::FastIOFatalError(const char* prefix, unsigned int bit, const char* suffix) {
  DAXOStreamedString message(prefix);
  message << bit << suffix;
  FastIOFatalError(message);
}

DAXOIOMonitorImplementation::DAXOIOMonitorImplementation(DAXOEvent* dieEvent, DAXOOutput* output,
                                                         int fifoSize, int subsampling)
    : DAXOFastIO<DAXOIOEltImplementation>(dieEvent, fifoSize, subsampling), m_output(output) {
  overflowCallback = &SignalOverflow;
  overflowArgument = output;
}

DAXOIOMonitorImplementation* DAXOIOMonitorImplementation::CreateMonitor(DAXOEvent* dieEvent,
                                                                        DAXOOutput* output,
                                                                        int fifoSize,
                                                                        int subsampling) {
  return new DAXOIOMonitorImplementation(dieEvent, output, fifoSize, subsampling);
}

void DAXOIOMonitorImplementation::SignalOverflow(void* output) {
  DAXOPrivate::SignalFifoOverflow(output);
}

DAXOIOElt* DAXOIOMonitorImplementation::operator[](DAXOFastIOHandle slot) {
  return slot.ptr != nullptr ? &SlotOf(slot.ptr).element : nullptr;
}

DAXOFastIOHandle DAXOIOMonitorImplementation::InitBegin() {
  Hold hold(mutex);
  return slots.First();
}

DAXOFastIOHandle DAXOIOMonitorImplementation::InitNext(DAXOFastIOHandle& slot) {
  Hold hold(mutex);
  ++slot;
  return slot;
}

// Inputs: connection to an output's FIFO and the detaching hand-shake.
#include <cstdlib>

#include "daxo_io.h"
#include "daxo_kernel.h"
#include "daxo_services.h"
#include "daxo_thread.h"
#include "daxo_type_filter.h"

namespace {
// How long a detachment waits for the reader to give its slots back.
constexpr DAXODelay kDetachLimit = 10000000;
}  // namespace

DAXOInputImplementation::DAXOInputImplementation(DAXOModule* owner_, const char* fullName,
                                                 const char* shortName_,
                                                 const DAXOInputDefinition& definition_)
    : name(fullName),
      shortName(shortName_),
      owner(owner_),
      definition(definition_),
      readerType(definition_.readerType),
      subsampling(definition_.subsampling > 0 ? definition_.subsampling : 1),
      held(new DAXOFastIOHandle[1]) {}

DAXOInputImplementation::~DAXOInputImplementation() {
  EngineDisconnect();
  delete[] held;
}

bool DAXOInputImplementation::DataAvailableInFIFO() {
  DAXOIOMonitorImplementation* f = fifo;
  return f != nullptr && f->DataAvailable(readerNumber);
}

int DAXOInputImplementation::NbDataAvailableInFIFO() {
  DAXOIOMonitorImplementation* f = fifo;
  return f != nullptr ? f->NbDataAvailable(readerNumber) : 0;
}

void DAXOInputImplementation::ReserveHeld(int n) {
  if (n <= heldCapacity) return;
  auto* grown = new DAXOFastIOHandle[static_cast<size_t>(n)];
  for (int i = 0; i < heldCount; ++i) grown[i] = held[i];
  delete[] held;
  held = grown;
  heldCapacity = n;
}

void DAXOInputImplementation::AcknowledgeDetachment() {
  detachAckEvent.Set();
  while (detaching.load()) DAXO::Wait4AWhile();
}

void DAXOInputImplementation::ExitStartReading() {
  // The check and the clearing of insideStartReading form one step under
  // the mutex: a detachment that begins in between would see the reader
  // inside and wait for an acknowledgement that never comes.
  for (;;) {
    {
      DAXOMutexGuard guard(mutex);
      if (!detaching.load() || heldCount != 0) {
        insideStartReading = false;
        return;
      }
      interruptEvent.Reset();
    }
    AcknowledgeDetachment();
  }
}

bool DAXOInputImplementation::EngineConnect(DAXOOutput& target) {
  auto& out = static_cast<DAXOOutputImplementation&>(target);
  if (output.load() == &out) return true;
  if (fifo != nullptr) EngineDisconnect();
  if (definition.typeFilter != nullptr && !DAXO::TypeFilter(out.Type(), *definition.typeFilter)) {
    DAXOStreamedString text("Cannot connect output ");
    text << out.Name() << " to input " << name << ": the output's type does not suit the input.";
    DAXO::ReportError(text, 1);
    return false;
  }
  DAXOIOMonitorImplementation* f = out.monitor;
  if (f == nullptr) return false;
  int reader = -1;
  try {
    reader = f->RegisterReader(readerType, subsampling);
  } catch (int) {
    return false;  // reported by the FIFO (too many readers)
  }
  {
    DAXOMutexGuard connections(out.connectionMutex);
    out.connectedInputs.PushBack(this);
  }
  {
    DAXOMutexGuard guard(mutex);
    readerNumber = reader;
    subsamplingCounter = 0;
    heldCount = 0;
    output = &out;
    fifo = f;
  }
  connectionEvent.Set();
  return true;
}

bool DAXOInputImplementation::BeginDetaching() {
  bool mustWait = false;
  {
    DAXOMutexGuard guard(mutex);
    detachAckEvent.Reset();
    detaching = true;
    mustWait = insideStartReading || heldCount > 0;
  }
  interruptEvent.Set();
  if (mustWait && detachAckEvent.Wait(kDetachLimit) != 0) {
    DAXOStreamedString text("Input ");
    text << name << " did not give its samples back within 10 seconds: they are taken back.";
    DAXO::ReportWarning(text, 1);
    return false;
  }
  return true;
}

void DAXOInputImplementation::Handshake() {
  DAXOIOMonitorImplementation* f = fifo;
  if (f == nullptr) return;
  if (!BeginDetaching()) f->ReleaseReader(readerNumber);
  DAXOMutexGuard guard(mutex);
  detaching = false;
}

void DAXOInputImplementation::EngineDisconnect() {
  DAXOIOMonitorImplementation* f = fifo;
  DAXOOutputImplementation* out = output;
  if (f == nullptr || out == nullptr) return;
  BeginDetaching();
  {
    DAXOMutexGuard connections(out->connectionMutex);
    DAXOListIterator it = out->connectedInputs.Find(this);
    if (it != nullptr) out->connectedInputs.Remove(it);
  }
  try {
    f->UnregisterReader(readerNumber);
  } catch (int) {
    // Reported by the FIFO; the input is disconnected all the same.
  }
  {
    DAXOMutexGuard guard(mutex);
    fifo = nullptr;
    output = nullptr;
    readerNumber = -1;
    heldCount = 0;
    subsamplingCounter = 0;
    detaching = false;
  }
  connectionEvent.Set();
}

// Inputs: connecting to an output's FIFO and disconnecting from it; what an
// input holds while it reads is its reader's (daxo_input_reader.cpp).
#include "daxo_io.h"
#include "daxo_kernel.h"
#include "daxo_services.h"
#include "daxo_thread.h"
#include "daxo_type_filter.h"

DAXOInputImplementation::DAXOInputImplementation(DAXOModule* owner_, const char* fullName,
                                                 const char* shortName_,
                                                 const DAXOInputDefinition& definition_)
    : name(fullName),
      shortName(shortName_),
      owner(owner_),
      definition(definition_),
      readerType(definition_.readerType),
      subsampling(definition_.subsampling > 0 ? definition_.subsampling : 1) {}

DAXOInputImplementation::~DAXOInputImplementation() {
  EngineDisconnect();
}

bool DAXOInputImplementation::DataAvailableInFIFO() {
  DAXOIOMonitorImplementation* f = fifo;
  return f != nullptr && f->DataAvailable(readerNumber);
}

int DAXOInputImplementation::NbDataAvailableInFIFO() {
  DAXOIOMonitorImplementation* f = fifo;
  return f != nullptr ? f->NbDataAvailable(readerNumber) : 0;
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
  int number = -1;
  try {
    number = f->RegisterReader(readerType, subsampling);
  } catch (int) {
    return false;  // reported by the FIFO (too many readers)
  }
  {
    DAXOMutexGuard connections(out.connectionMutex);
    out.connectedInputs.PushBack(this);
  }
  {
    DAXOMutexGuard guard(reader.Mutex());
    readerNumber = number;
    subsamplingCounter = 0;
    reader.ForgetHoldsLocked();
    output = &out;
    fifo = f;
  }
  connectionEvent.Set();
  return true;
}

void DAXOInputImplementation::Handshake() {
  DAXOIOMonitorImplementation* f = fifo;
  if (f == nullptr) return;
  if (!reader.BeginDetaching()) f->ReleaseReader(readerNumber);
  DAXOMutexGuard guard(reader.Mutex());
  reader.EndDetachingLocked();
}

void DAXOInputImplementation::EngineDisconnect() {
  DAXOIOMonitorImplementation* f = fifo;
  DAXOOutputImplementation* out = output;
  if (f == nullptr || out == nullptr) return;
  reader.BeginDetaching();
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
    DAXOMutexGuard guard(reader.Mutex());
    fifo = nullptr;
    output = nullptr;
    readerNumber = -1;
    reader.ForgetHoldsLocked();
    subsamplingCounter = 0;
    reader.EndDetachingLocked();
  }
  connectionEvent.Set();
}

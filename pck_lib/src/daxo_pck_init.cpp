// The package entry points (DAXOPckInit, DAXOGetModulesDefStruct) and the
// two SDK services next to them (DAXO::ForwardPckInitToLibrary, DAXO::Exit).
//
// Compiled into every package, whether or not the package refers to it.
//
// Locking: DAXOPckInit_Mutex serialises the test-and-bind of
// DAXOPrivate::kernel. It is held while the registry is initialised (which
// calls the models' registering functions) and is never taken anywhere else.
#include <algorithm>

#include "daxo_dynamic_loader.h"
#include "daxo_kernel.h"
#include "daxo_module_management.h"
#include "daxo_mutex.h"
#include "daxo_package.h"

namespace {
DAXOMutex DAXOPckInit_Mutex;

// When the package is unloaded its registry goes with it: the groups and
// definitions live on the heap, reachable only through the library's own
// statics, so a host that unloads packages would otherwise leak them at
// every unload. Every registry pointer is a plain pointer, valid until here
// whatever the order in which the other units' statics are destroyed.
struct RegistryTeardown {
  ~RegistryTeardown() { DAXOModuleManagement::Uninitialize(); }
} s_registryTeardown;

using PckInitFunction = int (*)(void*, int);
}  // namespace

extern "C" int DAXOPckInit(void* kernel, int version) {
  // Checked before the lock: a refused call has no effect at all.
  if (version != DAXO::PckInterfaceVersion || kernel == nullptr) return 0;
  DAXOMutexGuard guard(DAXOPckInit_Mutex);
  if (DAXOPrivate::kernel == nullptr) {
    // The registry is ready before the kernel is published: a service that
    // sees the kernel may rely on an initialised registry.
    DAXOModuleManagement::Initialize(nullptr);
    DAXOPrivate::kernel = static_cast<DAXOKernel*>(kernel);
  }
  return DAXO::KernelBuild >> 16;
}

extern "C" int DAXOGetModulesDefStruct(const char* group, void** table, int capacity) {
  const int available = DAXOModuleManagement::NumberOfReferencedModules(group, true);
  if (table == nullptr) return available;
  if (capacity < 1 || available < 1) return 0;
  // The enumeration never yields more than the count, so the scratch table
  // need not follow an oversized capacity.
  const int size = std::min(capacity, available);
  DAXOModuleDefinition** definitions = new DAXOModuleDefinition*[size];
  const int n = DAXOModuleManagement::EnumerateAvailableModules(definitions, size, group, true);
  for (int i = 0; i < n; ++i) table[i] = definitions[i]->userArgument;
  delete[] definitions;
  return n;
}

bool DAXO::ForwardPckInitToLibrary(const DAXODynamicLoader& loader, int* result) {
  if (result != nullptr) *result = 0x7FFFFFFF;
  if (!loader.IsOpen()) {
    DAXO::ReportError("DAXO::ForwardPckInitToLibrary: Dynamic library is not loaded");
    return false;
  }
  // LoadSymbol only records its error text in the loader.
  auto init = reinterpret_cast<PckInitFunction>(
      const_cast<DAXODynamicLoader&>(loader).LoadSymbol("DAXOPckInit"));
  if (init == nullptr) {
    DAXO::ReportError(
        "DAXO::ForwardPckInitToLibrary: Failed to load 'DAXOPckInit' from the dynamic library");
    return false;
  }
  const int answer = init(DAXOPrivate::kernel, DAXO::PckInterfaceVersion);
  if (result != nullptr) *result = answer;
  if (answer == 0) {
    DAXO::ReportError("DAXO::ForwardPckInitToLibrary: DAXOPckInit call failed");
    return false;
  }
  return true;
}

void DAXO::Exit() {
  DAXOKernel* kernel = DAXOPrivate::kernel;
  if (kernel == nullptr) return;
  kernel->Exit();
  kernel->Release();
  DAXOPrivate::kernel = nullptr;
}

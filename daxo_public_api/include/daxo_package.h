// What a package library shows the engine: the SDK version constants, the
// two exported entry points, the declaration of a module model, and the two
// SDK services next to the entry protocol.
//
// Protocol: the engine loads the library (static initialisers declare the
// models, which enter the module registry), calls DAXOPckInit(kernel,
// DAXO::PckInterfaceVersion) once per package, then DAXOGetModulesDefStruct
// to count and to fetch the declared models.
//
// Threading: DAXOPckInit may be called from any thread, concurrently; the
// test-and-bind is atomic. DAXOGetModulesDefStruct and
// DAXO::ForwardPckInitToLibrary are called after binding, from one thread at
// a time. DAXO::Exit is called from the engine's control thread, never
// concurrently with DAXOPckInit.
#pragma once

#include "daxo_module_management.h"
#include "daxo_string.h"

class DAXODynamicLoader;

namespace DAXO {

/// Build number of the SDK: major in bits 16 and up, minor in bits 8-15,
/// patch in bits 0-7 (4.9.0).
inline constexpr int KernelBuild = 0x40900;
/// The SDK version as text.
inline const DAXOStackedString<40> KernelVersion("4.9");
/// The minor release as text.
inline const DAXOStackedString<40> VelquorMinorVersion("0");
/// The version of the diagram format the SDK writes.
inline const DAXOStackedString<40> DiagramVersion("4.8.0");
/// The only interface version DAXOPckInit accepts, and the one
/// ForwardPckInitToLibrary passes on.
inline constexpr int PckInterfaceVersion = 0x80538;

/// Initialises the package library held by `loader` with this package's
/// kernel, by calling its DAXOPckInit. `result` (may be null) receives that
/// call's return value, or 0x7FFFFFFF when the call could not be made.
/// Returns true when the library's DAXOPckInit was found and returned
/// non-zero; every failure is also reported as an engine error.
bool ForwardPckInitToLibrary(const DAXODynamicLoader& loader, int* result);

/// Asks the bound kernel to exit, then to release itself, and unbinds it.
/// Does nothing when no kernel is bound. Services called afterwards find no
/// kernel.
void Exit();

}  // namespace DAXO

/// Binds the engine kernel `kernel` to this package. Returns 0 when
/// `version` is not DAXO::PckInterfaceVersion or `kernel` is null (nothing
/// is bound then), otherwise DAXO::KernelBuild >> 16 (4). The first accepted
/// call initialises the module registry, then binds; later calls keep the
/// bound kernel. An exception from a model's registering function
/// propagates and leaves the package unbound.
extern "C" __attribute__((visibility("default"))) int DAXOPckInit(void* kernel, int version);

/// Counting mode (`table` null): the number of models declared in `group`
/// and its children, or in every group when `group` is null; -1 for a group
/// that is not registered. Fetch mode: writes the user argument of up to
/// `capacity` models (for a component, the address of its
/// DAXOComponentDefinition) into `table` and returns how many; 0 for a
/// capacity below 1 or a group that is not registered.
extern "C" __attribute__((visibility("default"))) int DAXOGetModulesDefStruct(const char* group,
                                                                              void** table,
                                                                              int capacity);

// Declares the module model `ClassName` at load time: a DAXOModuleDefinition
// named "ClassName" in the group `GroupName` (a string literal), with the user
// argument `UserArgExpr` (a pointer, typically the address of the model's
// static DAXOComponentDefinition), no instantiation, registering or
// unregistering function. Use it once per model, at namespace scope, after
// the definition records that `UserArgExpr` points at. The tag
// "$!DAXO_MODULE!<group>!<ModelName>!$!<Version>!$" (string literals) names
// the model inside the library file: no code reads it, so it is marked used
// (the compiler keeps it) and retain (a linker collecting unused sections
// keeps it too).
//
// The `__NewModuleDeclarationClass` prefix is reserved in C++ (leading double
// underscore), but it is the SDK's fixed name for the declaration class, so
// it stays.
#define DAXO_DECLARE_MODULE(ClassName, GroupName, ModelName, Version, UserArgExpr)                \
  class __NewModuleDeclarationClass##ClassName {                                                  \
   public:                                                                                        \
    __NewModuleDeclarationClass##ClassName() = delete;                                            \
    static DAXOModuleDefinition* moduleDefinition;                                                \
    static const char* moduleDescr;                                                               \
  };                                                                                              \
  __attribute__((used, retain)) const char* __NewModuleDeclarationClass##ClassName::moduleDescr = \
      "$!DAXO_MODULE!" GroupName "!" ModelName "!$!" Version "!$";                                \
  DAXOModuleDefinition* __NewModuleDeclarationClass##ClassName::moduleDefinition =                \
      new DAXOModuleDefinition(#ClassName, GroupName, nullptr,                                    \
                               const_cast<void*>(static_cast<const void*>(UserArgExpr)))

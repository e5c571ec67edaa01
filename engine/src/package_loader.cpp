#include "package_loader.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "daxo_core_function.h"
#include "daxo_definitions.h"
#include "daxo_package.h"

namespace velquor {

namespace {

using PckInitFn = int (*)(void*, int);
using GetModulesFn = PackageLoader::GetModulesFn;

constexpr const char* kComponentGroup = "DAXOComponent";

// Libraries opened by any loader of this process, with their loader; null
// for a library that outlived its loader (someone else keeps it mapped): it
// is still bound to that loader's engine, which is gone.
Mutex g_openLock;
std::vector<std::pair<void*, const PackageLoader*>> g_open DAXO_GUARDED_BY(g_openLock);

// Whether `path` is mapped in this process (without mapping it).
bool Mapped(const std::string& path) {
  void* probe = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (probe == nullptr) return false;
  dlclose(probe);
  return true;
}

std::string Canonical(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : canonical.string();
}

/// The user arguments of every model of `group`; false when the package
/// cannot list them (a group it does not have is an empty list).
bool Fetch(GetModulesFn getModules, const char* group, std::vector<void*>& table) {
  const int count = getModules(group, nullptr, 0);
  table.clear();
  if (count < 0) return std::string(group) != "DAXOComponent";
  table.assign(static_cast<std::size_t>(count) + 1, nullptr);
  const int fetched = count == 0 ? 0 : getModules(group, table.data(), count);
  if (fetched < 0 || fetched > count) return false;
  table.resize(static_cast<std::size_t>(fetched));
  return true;
}

std::string BaseName(const std::string& path) {
  std::string base = path.substr(path.find_last_of('/') + 1);
  const auto dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.erase(dot);
  return base;
}

}  // namespace

PackageLoader::PackageLoader(DAXOKernel* kernel, ReportFn report)
    : m_kernel(kernel), m_report(std::move(report)) {}

PackageLoader::~PackageLoader() {
  if (m_keepLoaded) return;
  for (auto it = m_libraries.rbegin(); it != m_libraries.rend(); ++it) {
    {
      MutexLock lock(g_openLock);
      std::erase_if(g_open, [&](const auto& entry) { return entry.first == it->first; });
    }
    dlclose(it->first);
    // Still mapped: its package stays bound to this engine's kernel, and no
    // other engine may take it.
    if (Mapped(it->second)) {
      MutexLock lock(g_openLock);
      g_open.emplace_back(it->first, nullptr);
    }
  }
}

void PackageLoader::Fail(const std::string& text) {
  m_failures.push_back(text);
}

bool PackageLoader::Load(const std::string& path, const std::string& name) {
  return LoadAndReport(path, name, false);
}

bool PackageLoader::Use(const std::string& path) {
  return LoadAndReport(path, {}, true);
}

bool PackageLoader::LoadAndReport(const std::string& path, const std::string& name, bool once) {
  bool loaded = false;
  std::vector<std::string> failures;
  {
    RecursiveMutexLock lock(m_lock);
    ++m_depth;
    try {
      const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
      loaded = (once && HasFileLocked(Canonical(file))) ||
               LoadLocked(path, name.empty() ? BaseName(path) : name);
    } catch (const std::exception& e) {
      Fail("Package \"" + path + "\": " + e.what());
    } catch (...) {
      Fail("Package \"" + path + "\": unexpected failure while loading");
    }
    if (--m_depth == 0) failures.swap(m_failures);
  }
  if (m_report) {
    for (const std::string& text : failures) m_report(text, 2);
  }
  return loaded;
}

bool PackageLoader::LoadLocked(const std::string& path, const std::string& name) {
  if (std::find(m_packages.begin(), m_packages.end(), name) != m_packages.end()) {
    Fail("Package \"" + path + "\": a package named \"" + name + "\" is already loaded");
    return false;
  }
  // A package is a file: "x.pck" is the one in the working folder, where
  // dlopen would search the system's library folders for a bare name.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  const bool mappedBefore = Mapped(file);
  void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    Fail("Package \"" + path + "\" cannot be loaded: " + (why != nullptr ? why : "unknown error"));
    return false;
  }
  {
    MutexLock lock(g_openLock);
    // A library mapped afresh may have the handle of one unloaded since.
    if (!mappedBefore) std::erase_if(g_open, [&](const auto& e) { return e.first == library; });
    auto open = std::find_if(g_open.begin(), g_open.end(),
                             [&](const auto& entry) { return entry.first == library; });
    if (open != g_open.end()) {
      dlclose(library);  // only the reference this call took
      Fail("Package \"" + path + "\" is already loaded in this process" +
           (open->second == this ? std::string()
            : open->second != nullptr
                ? std::string(" by another engine")
                : std::string(" and bound to an engine that is gone (something "
                              "else keeps it in memory)")) +
           ": a package serves one engine");
      return false;
    }
    g_open.emplace_back(library, this);
  }
  // Kept open even on failure: a refused DAXOPckInit may have left objects.
  m_libraries.emplace_back(library, file);

  auto init = reinterpret_cast<PckInitFn>(dlsym(library, "DAXOPckInit"));
  auto getModules = reinterpret_cast<GetModulesFn>(dlsym(library, "DAXOGetModulesDefStruct"));
  if (init == nullptr || getModules == nullptr) {
    Fail("Package \"" + path + "\" is not a package: entry point " +
         (init == nullptr ? "DAXOPckInit" : "DAXOGetModulesDefStruct") + " missing");
    return false;
  }
  if (init(m_kernel, DAXO::PckInterfaceVersion) == 0) {
    Fail("Package \"" + path + "\" refused the engine (DAXOPckInit returned 0)");
    return false;
  }
  std::vector<void*> table;
  if (!Fetch(getModules, kComponentGroup, table)) {
    Fail("Package \"" + path + "\" cannot list its models");
    return false;
  }

  m_packages.push_back(name);
  m_files.emplace_back(name, Canonical(file));
  for (std::size_t i = 0; i < table.size(); ++i) {
    auto* definition = static_cast<DAXOComponentDefinition*>(table[i]);
    if (definition == nullptr || definition->name == nullptr) {
      Fail("Package \"" + path + "\" declares a model without a name");
      continue;
    }
    const std::string model = definition->name;
    auto taken = std::find_if(m_models.begin(), m_models.end(),
                              [&](const ModelInfo& info) { return info.name == model; });
    if (taken != m_models.end()) {
      Fail("Package \"" + path + "\": model \"" + model + "\" is already offered by package \"" +
           taken->package + "\"; the first one is kept");
      continue;
    }
    // Static records count their tables with -1 (until a zero row); every
    // reader after this point needs the real row counts.
    definition->ResolveCounts();
    m_models.push_back(ModelInfo{model, definition->version != nullptr ? definition->version : "",
                                 name, definition});
  }
  ReadFunctionModels(getModules, path, name);
  return true;
}

void PackageLoader::ReadFunctionModels(GetModulesFn getModules, const std::string& path,
                                       const std::string& name) {
  std::vector<void*> table;
  if (!Fetch(getModules, DAXO::CoreFunctionGroup, table)) {
    Fail("Package \"" + path + "\" cannot list its engine-function models");
    return;
  }
  for (void* entry : table) {
    auto* definition = static_cast<DAXOCoreFunctionDefinition*>(entry);
    if (definition == nullptr || definition->name == nullptr) {
      Fail("Package \"" + path + "\" declares an engine-function model without a name");
      continue;
    }
    const std::string model = definition->name;
    auto taken = std::find_if(m_functionModels.begin(), m_functionModels.end(),
                              [&](const FunctionModelInfo& info) { return info.name == model; });
    if (taken != m_functionModels.end()) {
      Fail("Package \"" + path + "\": engine-function model \"" + model +
           "\" is already offered by package \"" + taken->package + "\"; the first one is kept");
      continue;
    }
    definition->ResolveCounts();
    m_functionModels.push_back(FunctionModelInfo{
        model, definition->version != nullptr ? definition->version : "", name, definition});
  }
}

bool PackageLoader::HasFileLocked(const std::string& canonical) const {
  return std::any_of(m_files.begin(), m_files.end(),
                     [&](const auto& entry) { return entry.second == canonical; });
}

bool PackageLoader::HasFile(const std::string& path) const {
  RecursiveMutexLock lock(m_lock);
  return HasFileLocked(Canonical(path.find('/') == std::string::npos ? "./" + path : path));
}

bool PackageLoader::Forget(const std::string& name) {
  RecursiveMutexLock lock(m_lock);
  auto package = std::find(m_packages.begin(), m_packages.end(), name);
  if (package == m_packages.end()) return false;
  m_packages.erase(package);
  std::erase_if(m_models, [&](const ModelInfo& info) { return info.package == name; });
  std::erase_if(m_functionModels,
                [&](const FunctionModelInfo& info) { return info.package == name; });
  std::erase_if(m_files, [&](const auto& entry) { return entry.first == name; });
  return true;
}

void PackageLoader::KeepLibrariesLoaded() {
  RecursiveMutexLock lock(m_lock);
  m_keepLoaded = true;
}

std::vector<ModelInfo> PackageLoader::Models() const {
  RecursiveMutexLock lock(m_lock);
  return m_models;
}

std::vector<FunctionModelInfo> PackageLoader::FunctionModels() const {
  RecursiveMutexLock lock(m_lock);
  return m_functionModels;
}

}  // namespace velquor

// The public Engine: owns the services and the kernel, binds the engine's own
// copy of the SDK, and tears everything down in a fixed order.
#include "velquor/engine.h"

#include <algorithm>
#include <vector>

#include "engine_kernel.h"

extern "C" void daxo_init(void) {}

namespace velquor {

namespace {
constexpr const char kVersion[] = "4.9.0";
// A diagram lock held or awaited longer than this is reported.
constexpr std::chrono::milliseconds kSlowDiagramLock{5000};
}  // namespace

const char* EngineVersion() {
  return kVersion;
}

struct Engine::Impl {
  EngineParts parts;
  EngineKernel kernel{parts};
};

namespace {
// Engines alive in this process, newest last. libvelquor's own SDK copy is
// bound to the newest: when it goes, to the one before it (never to an
// engine already destroyed).
Mutex g_enginesLock;
std::vector<DAXOKernel*> g_engines DAXO_GUARDED_BY(g_enginesLock);

void BindNewest() DAXO_REQUIRES(g_enginesLock) {
  DAXOPrivate::kernel = g_engines.empty() ? nullptr : g_engines.back();
}
}  // namespace

Engine::Engine(EngineOptions options) : m_impl(std::make_unique<Impl>()) {
  EngineParts& parts = m_impl->parts;
  parts.messageBoxWindows = options.messageBoxWindows;
  parts.reports = std::make_unique<ReportHub>();
  if (options.reportToStderr) parts.reports->AddSink(std::make_shared<StderrReportSink>());
  parts.listeners = std::make_unique<ListenerHub>(
      [&parts](const std::string& text, int level) { parts.Report(text, level, 0, true); });
  parts.clocks = std::make_unique<ClockTable>(
      [&parts](const std::string& text, int level) { parts.Report(text, level, 0, true); });
  parts.clock = std::make_unique<EngineClock>(parts.listeners.get());
  parts.timers = std::make_unique<TimerService>();
  parts.properties = std::make_unique<EngineProperties>(kVersion);
  parts.symbols = std::make_unique<SymbolRegistry>();
  parts.diagramLock = std::make_unique<DiagramLock>(
      [&parts](const std::string& text) { parts.Report(text, 1, 0, true); }, kSlowDiagramLock);
  parts.notices = std::make_unique<ModuleNotices>();
  parts.packages = std::make_unique<PackageLoader>(
      &m_impl->kernel,
      [&parts](const std::string& text, int level) { parts.Report(text, level, 0, true); });
  parts.diagram = std::make_unique<Diagram>(
      *parts.packages, *parts.diagramLock, *parts.symbols,
      [&parts](const std::string& text, int level) { parts.Report(text, level, 0, true); },
      [this](DAXOComponent* component) { m_impl->kernel.ComponentMainThread(component); },
      parts.listeners.get());
  parts.functions = std::make_unique<velquor::CoreFunctions>(
      *parts.packages, *parts.diagramLock, *parts.symbols, *parts.diagram,
      [&parts](const std::string& text, int level) { parts.Report(text, level, 0, true); });
  parts.scripts = std::make_unique<ScriptService>(
      *this, [&parts](const std::string& text, int level) { parts.Report(text, level, 0, true); });
  parts.shutdownEvent = std::make_unique<DAXOEvent>(false);
  parts.globalMutex = std::make_unique<DAXOMutex>();
  // libvelquor's own SDK copy (the condition's events, the waits run here).
  MutexLock lock(g_enginesLock);
  g_engines.push_back(&m_impl->kernel);
  BindNewest();
}

Engine::~Engine() {
  EngineParts& parts = m_impl->parts;
  // Components go first, while every service (timers included) still
  // stands: they may use any of them while dying. A main thread that did
  // not end keeps running the package's code: its library stays open.
  //
  // No script runs after this point and none is left queued: a script
  // could create what the teardown below has already passed.
  parts.scripts->Stop();
  // Components die while the engine functions they use still live; then
  // the functions end (their threads too) before DestroyAll joins every
  // thread, and they are destroyed after the components, whose destructors
  // may still release their interfaces.
  parts.diagram->ShutdownAll();
  parts.functions->EndAll();
  if (!parts.diagram->DestroyAll()) parts.packages->KeepLibrariesLoaded();
  parts.functions->DestroyAll();
  // The last notices (the shutdown's) are delivered, then no listener
  // code runs any more: the packages may go.
  parts.listeners->Stop();
  // Nothing fires any more: no trigger may set an event destroyed below.
  parts.timers->Stop();
  // The packages go while every service still stands: their static
  // destructors may still call the kernel (drop a trigger, report, ...).
  parts.scripts.reset();
  parts.functions.reset();
  parts.diagram.reset();
  parts.packages.reset();
  {
    MutexLock lock(g_enginesLock);
    std::erase(g_engines, &m_impl->kernel);
    BindNewest();
  }
  parts.timers.reset();
  parts.clock.reset();
  parts.listeners.reset();
  parts.clocks.reset();
  parts.shutdownEvent.reset();
  parts.globalMutex.reset();
  parts.notices.reset();
  parts.diagramLock.reset();
  parts.symbols.reset();
  parts.properties.reset();
  parts.reports.reset();
}

DAXOKernel* Engine::kernel() {
  return &m_impl->kernel;
}

bool Engine::LoadPackage(const std::string& path, const std::string& name) {
  return m_impl->parts.packages->Load(path, name);
}

bool Engine::UnloadPackage(const std::string& name) {
  return m_impl->parts.packages->Forget(name);
}

std::vector<ModelInfo> Engine::Models() const {
  return m_impl->parts.packages->Models();
}

std::vector<FunctionModelInfo> Engine::FunctionModels() const {
  return m_impl->parts.packages->FunctionModels();
}

bool Engine::UsePackage(const std::string& path) {
  return m_impl->parts.packages->Use(path);
}

bool Engine::AddModel(DAXOComponentDefinition& definition) {
  return m_impl->parts.diagram->AddModel(definition);
}

bool Engine::CreateComponent(const std::string& model, const std::string& name) {
  return m_impl->parts.functions->CreateComponent(model, name);
}

DAXOComponent* Engine::Component(const std::string& name) const {
  return m_impl->parts.diagram->Find(name);
}

std::vector<std::string> Engine::Components() const {
  return m_impl->parts.diagram->Names();
}

bool Engine::Connect(const std::string& output, const std::string& input) {
  return m_impl->parts.diagram->Connect(output, input);
}

bool Engine::ConnectAll(const std::vector<std::pair<std::string, std::string>>& links) {
  return m_impl->parts.diagram->ConnectAll(links);
}

bool Engine::Disconnect(const std::string& input) {
  return m_impl->parts.diagram->Disconnect(input);
}

bool Engine::RenameComponent(const std::string& oldName, const std::string& newName) {
  return m_impl->parts.diagram->Rename(oldName, newName);
}

bool Engine::StartComponent(const std::string& name) {
  return m_impl->parts.diagram->Start(name);
}

bool Engine::ShutdownComponent(const std::string& name) {
  return m_impl->parts.diagram->Shutdown(name);
}

bool Engine::DestroyComponent(const std::string& name) {
  return m_impl->parts.diagram->Destroy(name);
}

bool Engine::StartDiagram() {
  EngineParts& parts = m_impl->parts;
  if (!parts.clock->IsStarted()) {
    parts.clock->Start();
    // The start's time-jump notice goes out on the notice thread. Delivered
    // after a component's Birth, it would tell that component of a jump
    // back to 0 behind the samples it already holds (a sorting reader then
    // drops them): every component is born after the start has been heard.
    parts.listeners->Flush();
  }
  parts.Report("Engine: diagram started", 0, 0, true);
  return parts.diagram->StartAll();
}

void Engine::ShutdownDiagram() {
  m_impl->parts.diagram->ShutdownAll();
  m_impl->parts.Report("Engine: diagram shut down", 0, 0, true);
}

RunEnd Engine::RunDiagram(DAXODelay limit) {
  return m_impl->parts.diagram->Run(limit);
}

void Engine::RequestShutdown() {
  m_impl->parts.diagram->RequestShutdown();
}

bool Engine::AddFunctionModel(DAXOCoreFunctionDefinition& definition) {
  return m_impl->parts.functions->AddModel(definition);
}

DAXOCoreFunction* Engine::CreateCoreFunction(const std::string& model, const std::string& name) {
  return m_impl->parts.functions->Create(model, name);
}

bool Engine::StartCoreFunction(const std::string& name) {
  return m_impl->parts.functions->Start(name);
}

bool Engine::LoadCoreFunction(const std::string& model, const std::string& name) {
  return m_impl->parts.functions->Load(model, name);
}

bool Engine::UnloadCoreFunction(const std::string& name) {
  return m_impl->parts.functions->Unload(name);
}

DAXOCoreFunction* Engine::CoreFunction(const std::string& name) const {
  return m_impl->parts.functions->Find(name);
}

std::vector<std::string> Engine::CoreFunctions() const {
  return m_impl->parts.functions->Names();
}

bool Engine::Parse(const std::string& text) {
  return m_impl->parts.scripts->Parse(text);
}

bool Engine::ParseFile(const std::string& path) {
  return m_impl->parts.scripts->ParseFile(path);
}

bool Engine::AsynchParse(const std::string& text) {
  return m_impl->parts.scripts->AsynchParse(text);
}

bool Engine::AsynchParseFile(const std::string& path) {
  return m_impl->parts.scripts->AsynchParseFile(path);
}

void Engine::WaitForScripts() {
  m_impl->parts.scripts->WaitIdle();
}

void Engine::SetScriptPackageFolders(std::vector<std::string> folders) {
  m_impl->parts.scripts->SetPackageFolders(std::move(folders));
}

void Engine::StartClock() {
  m_impl->parts.clock->Start();
}

void Engine::PauseClock() {
  m_impl->parts.clock->SetPaused(true);
}

void Engine::ResumeClock() {
  m_impl->parts.clock->SetPaused(false);
}

void Engine::SetClockSpeed(int speed) {
  m_impl->parts.clock->SetSpeed(speed);
}

void Engine::JumpClock(DAXOTimestamp t) {
  m_impl->parts.clock->SetTime(t);
}

DAXOTimestamp Engine::Now() {
  return m_impl->parts.clock->Now();
}

void Engine::FlushListenerNotices() {
  m_impl->parts.listeners->Flush();
}

std::vector<ClockInfo> Engine::Clocks() const {
  return m_impl->parts.clocks->Clocks();
}

int Engine::FindClock(const std::string& name) const {
  return m_impl->parts.clocks->Find(name);
}

void Engine::AddReportSink(std::shared_ptr<ReportSink> sink) {
  m_impl->parts.reports->AddSink(std::move(sink));
}

void Engine::Report(const std::string& text, int level, int code, bool engineFlag) {
  m_impl->parts.Report(text, level, code, engineFlag);
}

void Engine::SetBoolProperty(const std::string& name, bool value) {
  m_impl->parts.properties->SetBool(name, value);
}

void Engine::SetIntegerProperty(const std::string& name, long value) {
  m_impl->parts.properties->SetInteger(name, value);
}

void Engine::SetFloatProperty(const std::string& name, double value) {
  m_impl->parts.properties->SetFloat(name, value);
}

void Engine::SetStringProperty(const std::string& name, const std::string& value) {
  m_impl->parts.properties->SetString(name, value);
}

bool Engine::GetBoolProperty(const std::string& name, bool* found) {
  return m_impl->parts.properties->GetBool(name, found);
}

long Engine::GetIntegerProperty(const std::string& name, bool* found) {
  return m_impl->parts.properties->GetInteger(name, found);
}

double Engine::GetFloatProperty(const std::string& name, bool* found) {
  return m_impl->parts.properties->GetFloat(name, found);
}

std::string Engine::GetStringProperty(const std::string& name, bool* found) {
  return m_impl->parts.properties->GetString(name, found);
}

void* Engine::FindSymbol(const std::string& fullName, DAXOSymbolKind kind) {
  return m_impl->parts.symbols->Find(fullName, kind);
}

std::vector<std::string> Engine::RemovalNotices() const {
  return m_impl->parts.symbols->RemovalNotices();
}

std::vector<std::string> Engine::OutputNotices() const {
  return m_impl->parts.symbols->OutputNotices();
}

void Engine::AddRemovalListener(std::function<void(const std::string&)> listener) {
  m_impl->parts.symbols->AddRemovalListener(std::move(listener));
}

int Engine::ModuleState(const std::string& module, bool* found) const {
  return m_impl->parts.notices->State(module, found);
}

std::vector<ModuleStateNotice> Engine::ModuleStateNotices() const {
  return m_impl->parts.notices->Log();
}

bool Engine::TryLockDiagram(const std::string& reason) {
  return m_impl->parts.diagramLock->TryLock(reason);
}

std::string Engine::DiagramLockHolder() const {
  return m_impl->parts.diagramLock->Holder();
}

bool Engine::IsExiting() const {
  return m_impl->parts.exiting;
}

int Engine::ReleaseCount() const {
  return m_impl->parts.releases;
}

void Engine::SetCheckLevel(int level) {
  m_impl->parts.checkLevel = level;
}

long Engine::MultiEventWaits() const {
  return m_impl->parts.multiEventWaits;
}

std::size_t Engine::ArmedTriggers() const {
  return m_impl->parts.timers->Armed();
}

}  // namespace velquor

// Instances of a model with default and changed property values, and the
// elements they have.
//
// The component's elements are enumerated with the tool's copy of the SDK's
// module code (NbInputs, Input): plain reads of the module's lists under its
// lock, which every copy lays out alike. Everything else about an element
// goes through its virtual interface or the engine's registry, i.e. the
// component's own code.
#include "model_instance.h"

#include <algorithm>
#include <set>

#include "daxo_component.h"
#include "daxo_definitions.h"
#include "daxo_io.h"
#include "daxo_property.h"
#include "daxo_property_value.h"
#include "type_text.h"

namespace velquor::tool {

namespace {

constexpr const char kDefaultInstance[] = "inspected";
constexpr const char kProbeInstance[] = "inspected_probe";

const char* ReaderName(int reader) {
  static const char* const kNames[] = {"fifo", "never-skipping", "last-or-next", "wait-for-next",
                                       "sampling"};
  return reader >= 0 && reader < 5 ? kNames[reader] : "unknown reader";
}

DAXOProperty* FindProperty(Engine& engine, const std::string& fullName) {
  return static_cast<DAXOProperty*>(engine.FindSymbol(fullName, DAXOSymbolKind::Property));
}

long IntegerProperty(Engine& engine, const std::string& fullName, long fallback) {
  DAXOProperty* property = FindProperty(engine, fullName);
  return property != nullptr ? static_cast<long>(property->IntegerValue()) : fallback;
}

template <class Definition>
const Definition* Declared(const Definition* table, DAXOUInt32 count, const std::string& name) {
  for (DAXOUInt32 i = 0; table != nullptr && i < count; ++i) {
    if (table[i].name != nullptr && name == table[i].name) return &table[i];
  }
  return nullptr;
}

struct Elements {
  std::vector<ElementText> inputs;
  std::vector<ElementText> outputs;
};

Elements ListElements(Engine& engine, DAXOComponent& component, const DAXOComponentDefinition& d) {
  Elements elements;
  for (int i = 0, n = component.NbInputs(); i < n; ++i) {
    DAXOInput& in = component.Input(i);
    const std::string name = in.ShortName();
    const DAXOInputDefinition* declared = Declared(d.inputs, d.nbInputs, name);
    // The reader type is a property of the input only for the reader types
    // that may be changed; the table knows it for the declared inputs.
    const long reader = IntegerProperty(engine, std::string(in.Name()) + ".readerType",
                                        declared != nullptr ? declared->readerType : -1);
    elements.inputs.push_back(
        {name, InputText(static_cast<int>(reader), in.Type()), declared == nullptr});
  }
  for (int i = 0, n = component.NbOutputs(); i < n; ++i) {
    DAXOOutput& out = component.Output(i);
    const std::string name = out.ShortName();
    const DAXOOutputDefinition* declared = Declared(d.outputs, d.nbOutputs, name);
    const long fifo = IntegerProperty(engine, std::string(out.Name()) + ".fifosize",
                                      declared != nullptr ? declared->fifoSize : -1);
    elements.outputs.push_back({name, OutputText(out.Type(), fifo), declared == nullptr});
  }
  return elements;
}

std::set<std::string> Names(const std::vector<ElementText>& elements) {
  std::set<std::string> names;
  for (const ElementText& e : elements) names.insert(e.name);
  return names;
}

// " adds inputs a, b" / " removes outputs c": the names of `now` that
// `before` lacks, in `now`'s order.
std::string Change(const char* verb, const char* what, const std::vector<ElementText>& now,
                   const std::vector<ElementText>& before) {
  const std::set<std::string> old = Names(before);
  std::string names;
  for (const ElementText& e : now) {
    if (old.count(e.name) == 0) names += (names.empty() ? "" : ", ") + e.name;
  }
  return names.empty() ? std::string() : std::string(" ") + verb + " " + what + " " + names;
}

// Calls `apply` with a value one step away from the default (as Set takes
// it), its text and the default's; not at all for the kinds of property that
// are not tried (floats, strings, enumerations).
template <class Apply>
void WithChangedValue(const DAXOPropertyValue& value, Apply apply) {
  if (value.type == DAXO::PropertyTypeInteger) {
    const long changed = value.value.integer + 1;
    apply(changed, std::to_string(changed), std::to_string(value.value.integer));
  } else if (value.type == DAXO::PropertyTypeBool) {
    const bool changed = !value.value.boolean;
    apply(changed, changed ? "true" : "false", changed ? "false" : "true");
  }
}

}  // namespace

void QuietReports::Deliver(const ReportRecord& report) {
  if (!m_quiet) {
    m_next->Deliver(report);
    return;
  }
  if (report.level != ReportLevel::Error) return;
  std::lock_guard<std::mutex> guard(m_mutex);
  if (m_firstError.empty()) m_firstError = report.text;
}

void QuietReports::BeQuiet() {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_firstError.clear();
  m_quiet = true;
}

std::string QuietReports::FirstError() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_firstError;
}

std::string InputText(int readerType, const DAXOTypeFilterBase* filter) {
  std::string text = readerType >= 0 ? ReaderName(readerType) : "";
  text += (text.empty() ? "" : ", ") +
          (filter != nullptr ? "accepts " + AcceptedTypes(*filter) : std::string("no type filter"));
  return text;
}

std::string OutputText(const DAXOTypeInfo& type, long fifoSize) {
  std::string text = KindNames(type.value);
  if (type.name != nullptr && type.name->Length() > 0) {
    text += " \"" + std::string(static_cast<const char*>(*type.name)) + "\"";
  }
  if (fifoSize >= 0) text += ", FIFO of " + std::to_string(fifoSize);
  return text;
}

InstanceElements DescribeInstance(Engine& engine, const ModelInfo& model, QuietReports& reports) {
  const DAXOComponentDefinition& d = *model.definition;
  InstanceElements result;
  reports.BeQuiet();
  struct Speak {
    QuietReports& reports;
    ~Speak() { reports.Speak(); }
  } speak{reports};
  // Builds an instance, lets `change` set its properties, lists its
  // elements and destroys it; false when it could not be built. `failed`
  // tells that the component went into its error state (a Dynamic() that
  // threw): it may have only some of its elements.
  auto build = [&](const char* name, auto change, Elements& elements, bool& failed) {
    failed = false;
    if (!engine.CreateComponent(model.name, name)) return false;
    bool listed = false;
    try {
      DAXOComponent* component = engine.Component(name);
      if (component != nullptr && change(*component)) {
        elements = ListElements(engine, *component, d);
        failed = (component->State() & DAXO::ErrorState) != 0;
        listed = true;
      }
    } catch (...) {
      // The component (or the SDK) reported why.
    }
    engine.DestroyComponent(name);
    return listed;
  };

  Elements defaults;
  bool failed = false;
  const bool made = build(
      kDefaultInstance, [](DAXOComponent&) { return true; }, defaults, failed);
  if (!made || failed) {
    result.failure = reports.FirstError();
    if (result.failure.empty()) result.failure = made ? "it is in error" : "it cannot be built";
  }
  if (!made) return result;
  result.made = true;
  result.inputs = defaults.inputs;
  result.outputs = defaults.outputs;

  for (DAXOUInt32 i = 0; i < d.nbProperties && d.properties != nullptr; ++i) {
    const DAXOPropertyDefinition& p = d.properties[i];
    if (p.name == nullptr || p.value == nullptr || p.readOnly) continue;
    std::string setting;
    Elements changed;
    bool built = false;
    WithChangedValue(*p.value, [&](auto value, const std::string& text, const std::string& was) {
      setting = std::string(p.name) + "=" + text + " (default " + was + ")";
      built = build(
          kProbeInstance,
          [&](DAXOComponent& component) {
            DAXOProperty* property =
                FindProperty(engine, std::string(kProbeInstance) + "." + p.name);
            if (property == nullptr) return false;
            component.Set(*property, value);  // virtual: the component's own code
            return true;
          },
          changed, failed);
    });
    if (!built || failed) continue;
    const std::string effect = Change("adds", "inputs", changed.inputs, defaults.inputs) +
                               Change("adds", "outputs", changed.outputs, defaults.outputs) +
                               Change("removes", "inputs", defaults.inputs, changed.inputs) +
                               Change("removes", "outputs", defaults.outputs, changed.outputs);
    if (!effect.empty()) result.effects.push_back(setting + effect);
  }
  return result;
}

}  // namespace velquor::tool

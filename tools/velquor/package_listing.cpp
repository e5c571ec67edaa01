// velquor inspect: the packages the tool finds, their models (component
// models, then engine-function models apart), and a model's inputs,
// outputs, properties and actions (an engine function's properties). Inputs
// and outputs are those of an instance built with the default property
// values (model_instance.h), so that the elements a component makes from
// its properties (one input per stream, say) are listed too; the declared
// tables stand in when no instance can be built.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "commands.h"
#include "console.h"
#include "daxo_core_function.h"
#include "daxo_definitions.h"
#include "daxo_property_value.h"
#include "model_instance.h"
#include "package_search.h"
#include "velquor/engine.h"

namespace velquor::tool {

namespace {

namespace fs = std::filesystem;

std::string ValueText(const DAXOPropertyValue* value) {
  if (value == nullptr) return "(no default)";
  char text[64];
  switch (value->type) {
    case DAXO::PropertyTypeBool:
      return std::string("bool ") + (value->value.boolean ? "true" : "false");
    case DAXO::PropertyTypeInteger:
      return "integer " + std::to_string(value->value.integer);
    case DAXO::PropertyTypeFloat:
      std::snprintf(text, sizeof text, "float %g", value->value.floating);
      return text;
    case DAXO::PropertyTypeString:
      return std::string("string \"") +
             (value->value.string != nullptr ? static_cast<const char*>(*value->value.string)
                                             : "") +
             "\"";
    case DAXO::PropertyTypeEnum: {
      const DAXOEnumStruct* e = value->value.enumeration;
      std::string choices;
      std::string selected;
      const int count = e != nullptr && e->values != nullptr ? e->values->Count() : 0;
      for (int i = 0; i < count; ++i) {
        const char* choice = (*e->values)[i];
        choices += (i == 0 ? "" : "|") + std::string(choice);
        if (i == e->selected) selected = choice;
      }
      return "enumeration " + choices + " (default " + (selected.empty() ? "none" : selected) + ")";
    }
    default:
      return "kind " + std::to_string(value->type);
  }
}

void PrintList(const char* title, const std::vector<ElementText>& elements, bool instance) {
  std::printf("  %s%s:%s\n", title, instance ? "" : " (declared)", elements.empty() ? " none" : "");
  for (const ElementText& e : elements) {
    std::printf("    %-24s %s%s\n", e.name.c_str(), e.text.c_str(),
                e.fromProperties ? "  [from properties]" : "");
  }
}

// The elements of an instance with the default values; the model's tables
// when no instance can be built.
void PrintElements(const ModelInfo& model, const InstanceElements& instance) {
  const DAXOComponentDefinition& d = *model.definition;
  if (!instance.failure.empty()) {
    std::printf("  note: an instance with the default property values %s: %s\n",
                instance.made ? "reports an error" : "cannot be built", instance.failure.c_str());
  }
  if (!instance.made) {
    std::vector<ElementText> inputs;
    for (DAXOUInt32 i = 0; i < d.nbInputs && d.inputs != nullptr; ++i) {
      const DAXOInputDefinition& in = d.inputs[i];
      inputs.push_back(
          {in.name != nullptr ? in.name : "?", InputText(in.readerType, in.typeFilter), false});
    }
    std::vector<ElementText> outputs;
    for (DAXOUInt32 i = 0; i < d.nbOutputs && d.outputs != nullptr; ++i) {
      const DAXOOutputDefinition& out = d.outputs[i];
      outputs.push_back(
          {out.name != nullptr ? out.name : "?", OutputText(out.type, out.fifoSize), false});
    }
    PrintList("inputs", inputs, false);
    PrintList("outputs", outputs, false);
    return;
  }
  PrintList("inputs", instance.inputs, true);
  PrintList("outputs", instance.outputs, true);
  const auto made = [](const ElementText& e) { return e.fromProperties; };
  const bool fromProperties = std::any_of(instance.inputs.begin(), instance.inputs.end(), made) ||
                              std::any_of(instance.outputs.begin(), instance.outputs.end(), made);
  if (fromProperties || !instance.effects.empty()) {
    std::printf(
        "  elements made from properties depend on their values; shown for the defaults%s\n",
        instance.effects.empty() ? "" : ":");
    for (const std::string& effect : instance.effects) std::printf("    %s\n", effect.c_str());
  }
}

void PrintProperties(DAXOUInt32 count, const DAXOPropertyDefinition* properties) {
  std::printf("  properties:%s\n", count == 0 ? " none declared" : "");
  for (DAXOUInt32 i = 0; i < count && properties != nullptr; ++i) {
    const DAXOPropertyDefinition& p = properties[i];
    std::string flags;
    if (p.readOnly) flags += ", read-only";
    if (p.canBeModifiedAfterStart) flags += ", settable while running";
    if (p.needs2BeInitialized) flags += ", must be set";
    if (p.unit != nullptr && p.unit[0] != '\0') flags += std::string(", unit ") + p.unit;
    std::printf("    %-24s %s%s\n", p.name != nullptr ? p.name : "?", ValueText(p.value).c_str(),
                flags.c_str());
  }
}

// An engine function has no inputs or outputs: its record says it all.
void PrintFunctionModel(const FunctionModelInfo& model) {
  const DAXOCoreFunctionDefinition& d = *model.definition;
  std::printf("%s %s (package %s, engine function)\n", model.name.c_str(), model.version.c_str(),
              model.package.c_str());
  if (d.description != nullptr && d.description[0] != '\0') {
    std::printf("  %s\n", d.description);
  }
  PrintProperties(d.nbProperties, d.properties);
}

void PrintModel(const ModelInfo& model, const InstanceElements& instance) {
  const DAXOComponentDefinition& d = *model.definition;
  std::printf("%s %s (package %s)\n", model.name.c_str(), model.version.c_str(),
              model.package.c_str());
  std::string threading;
  if ((d.kind & DAXO::Threaded) != 0) threading += "threaded";
  if ((d.kind & DAXO::Sequential) != 0)
    threading += threading.empty() ? "sequential" : ", sequential";
  std::printf("  threading: %s (default %s)", threading.empty() ? "none" : threading.c_str(),
              d.threaded ? "threaded" : "sequential");
  if (d.maxInstances != 0) std::printf(", at most %u instances", d.maxInstances);
  std::printf("\n");

  PrintElements(model, instance);
  PrintProperties(d.nbProperties, d.properties);
  if (d.nbActions > 0 && d.actions != nullptr) {
    std::printf("  actions:\n");
    for (DAXOUInt32 i = 0; i < d.nbActions; ++i) {
      const DAXOActionDefinition& a = d.actions[i];
      std::printf("    %s%s\n", a.name != nullptr ? a.name : "?",
                  a.NeedArgument() ? " (takes an argument)" : "");
    }
  }
}

std::string PackageName(const std::string& path) {
  return fs::path(path).stem().string();
}

}  // namespace

int Inspect(const std::string& what) {
  Console console;
  auto sink = std::make_shared<ToolReportSink>(console, false);
  auto reports = std::make_shared<QuietReports>(sink);
  Engine engine(EngineOptions{false, false});
  engine.AddReportSink(reports);
  KernelBinding binding(engine);

  const std::vector<std::string> folders = PackageFolders();
  std::error_code ec;
  const bool isFile = !what.empty() && fs::is_regular_file(what, ec);
  std::vector<std::string> packages;
  bool onePackage = isFile;  // `what` names a package: show all its models
  if (isFile) {
    packages.push_back(what);
  } else {
    const std::string wanted = what.ends_with(".pck") ? what : what + ".pck";
    const std::string found = what.empty() ? std::string() : FindPackage(wanted, folders);
    onePackage = !found.empty();
    packages = onePackage ? std::vector<std::string>{found} : AllPackages(folders);
  }
  if (packages.empty()) {
    console.Message("velquor inspect: no package found (searched " + JoinFolders(folders) +
                    "; VELQUOR_PACKAGE_PATH adds folders)");
    return kFailure;
  }
  std::vector<std::pair<std::string, std::string>> loaded;  // name, path
  for (const std::string& path : packages) {
    if (engine.LoadPackage(path)) loaded.emplace_back(PackageName(path), path);
  }
  const std::vector<ModelInfo> models = engine.Models();
  const std::vector<FunctionModelInfo> functions = engine.FunctionModels();

  if (what.empty()) {
    for (const auto& [name, path] : loaded) {
      std::printf("%s  %s\n", name.c_str(), path.c_str());
      for (const ModelInfo& model : models) {
        if (model.package == name)
          std::printf("  %s %s\n", model.name.c_str(), model.version.c_str());
      }
      const std::string& package = name;  // a lambda may not capture a binding (C++17 rule)
      const bool any =
          std::any_of(functions.begin(), functions.end(),
                      [&](const FunctionModelInfo& f) { return f.package == package; });
      if (any) std::printf("  engine functions:\n");
      for (const FunctionModelInfo& function : functions) {
        if (function.package == name)
          std::printf("    %s %s\n", function.name.c_str(), function.version.c_str());
      }
    }
    return sink->Failures() > 0 ? kFailure : kSuccess;
  }
  bool shown = false;
  for (const ModelInfo& model : models) {
    if (onePackage || model.name == what) {
      if (shown) std::printf("\n");
      PrintModel(model, DescribeInstance(engine, model, *reports));
      shown = true;
    }
  }
  for (const FunctionModelInfo& function : functions) {
    if (onePackage || function.name == what) {
      if (shown) std::printf("\n");
      PrintFunctionModel(function);
      shown = true;
    }
  }
  if (!shown) {
    if (onePackage) return kFailure;  // its load failure was reported, or it has no model
    console.Message("velquor inspect: no package or model named '" + what + "'");
    return kFailure;
  }
  return kSuccess;
}

}  // namespace velquor::tool

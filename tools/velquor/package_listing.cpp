// velquor inspect: the packages the tool finds, their models, and a model's
// declared inputs, outputs, properties and actions. Elements that a component
// declares at run time from its properties (e.g. one input per stream) are
// not in its model's tables and are not listed.
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "commands.h"
#include "console.h"
#include "daxo_definitions.h"
#include "daxo_property_value.h"
#include "daxo_type_filter.h"
#include "daxo_type_info.h"
#include "package_search.h"
#include "velquor/engine.h"

namespace velquor::tool {

namespace {

namespace fs = std::filesystem;

std::string KindNames(DAXOTypeInfoValue value) {
  if ((value & DAXO::TypeMask) == DAXO::TypeMask) return "any";
  static const std::pair<DAXOTypeInfoValue, const char*> kKinds[] = {
      {DAXO::Structure, "Structure"},
      {DAXO::Integer32, "Integer32"},
      {DAXO::Float64, "Float64"},
      {DAXO::TextAscii, "Text"},
      {DAXO::TextUnicode, "TextUnicode"},
      {DAXO::IplImage, "IplImage"},
      {DAXO::DAXOImage, "Image"},
      {DAXO::CANFrame, "CANFrame"},
      {DAXO::Matrix, "Matrix"},
      {DAXO::RealObject, "RealObject"},
      {DAXO::DrawingObject, "DrawingObject"},
      {DAXO::Triangles3D, "Triangles3D"},
      {DAXO::Stream8, "Stream8"},
      {DAXO::Stream16, "Stream16"},
      {DAXO::Stream32, "Stream32"},
      {DAXO::Integer64, "Integer64"},
      {DAXO::Float32, "Float32"},
      {DAXO::AudioSignal, "AudioSignal"},
      {DAXO::DynamicStructure, "DynamicStructure"},
      {DAXO::CANFDFrame, "CANFDFrame"},
      {DAXO::Integer8, "Integer8"},
      {DAXO::Integer16, "Integer16"},
      {DAXO::UnsignedInteger64, "UnsignedInteger64"},
      {DAXO::CustomType, "CustomType"},
      {DAXO::CANUniFrame, "CANUniFrame"},
  };
  std::string names;
  DAXOTypeInfoValue rest = value & DAXO::TypeMask;
  for (const auto& [bit, name] : kKinds) {
    if ((rest & bit) == 0) continue;
    names += (names.empty() ? "" : "|") + std::string(name);
    rest &= ~bit;
  }
  if (rest != 0) {
    char hex[24];
    std::snprintf(hex, sizeof hex, "0x%" PRIx64, static_cast<std::uint64_t>(rest));
    names += (names.empty() ? "" : "|") + std::string(hex);
  }
  if (names.empty()) names = "none";
  if ((value & DAXO::VectorFlag) != 0) names += " vector";
  return names;
}

std::string TypeText(const DAXOTypeInfo& type) {
  std::string text = KindNames(type.value);
  if (type.name != nullptr && type.name->Length() > 0) {
    text += " \"" + std::string(static_cast<const char*>(*type.name)) + "\"";
  }
  return text;
}

const char* ReaderName(int reader) {
  static const char* const kNames[] = {"fifo", "never-skipping", "last-or-next", "wait-for-next",
                                       "sampling"};
  return reader >= 0 && reader < 5 ? kNames[reader] : "unknown reader";
}

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

void PrintModel(const ModelInfo& model) {
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

  std::printf("  inputs:%s\n", d.nbInputs == 0 ? " none declared" : "");
  for (DAXOUInt32 i = 0; i < d.nbInputs && d.inputs != nullptr; ++i) {
    const DAXOInputDefinition& in = d.inputs[i];
    std::printf("    %-24s %s", in.name != nullptr ? in.name : "?", ReaderName(in.readerType));
    if (in.typeFilter != nullptr)
      std::printf(", accepts %s", KindNames(in.typeFilter->mask).c_str());
    std::printf("\n");
  }
  std::printf("  outputs:%s\n", d.nbOutputs == 0 ? " none declared" : "");
  for (DAXOUInt32 i = 0; i < d.nbOutputs && d.outputs != nullptr; ++i) {
    const DAXOOutputDefinition& out = d.outputs[i];
    std::printf("    %-24s %s, FIFO of %d\n", out.name != nullptr ? out.name : "?",
                TypeText(out.type).c_str(), out.fifoSize);
  }
  std::printf("  properties:%s\n", d.nbProperties == 0 ? " none declared" : "");
  for (DAXOUInt32 i = 0; i < d.nbProperties && d.properties != nullptr; ++i) {
    const DAXOPropertyDefinition& p = d.properties[i];
    std::string flags;
    if (p.readOnly) flags += ", read-only";
    if (p.canBeModifiedAfterStart) flags += ", settable while running";
    if (p.needs2BeInitialized) flags += ", must be set";
    if (p.unit != nullptr && p.unit[0] != '\0') flags += std::string(", unit ") + p.unit;
    std::printf("    %-24s %s%s\n", p.name != nullptr ? p.name : "?", ValueText(p.value).c_str(),
                flags.c_str());
  }
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
  Engine engine(EngineOptions{false, false});
  engine.AddReportSink(sink);
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

  if (what.empty()) {
    for (const auto& [name, path] : loaded) {
      std::printf("%s  %s\n", name.c_str(), path.c_str());
      for (const ModelInfo& model : models) {
        if (model.package == name)
          std::printf("  %s %s\n", model.name.c_str(), model.version.c_str());
      }
    }
    return sink->Failures() > 0 ? kFailure : kSuccess;
  }
  bool shown = false;
  for (const ModelInfo& model : models) {
    if (onePackage || model.name == what) {
      if (shown) std::printf("\n");
      PrintModel(model);
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

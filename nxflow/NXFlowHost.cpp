// NXFlowHost: list, describe, check and set (see the header).
#include "nxflow/NXFlowHost.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "documents/NXGraphDocument.h"
#include "nxflow/NXFlowPackages.h"
#include "nxflow/NXFlowRun.h"
#include "nxflow/NXFlowServe.h"
#include "runtime/Zandor.TypeInfo.h"

namespace nx::flow {

namespace {

constexpr const char* kUsage =
    "usage: nxflow [--packages DIR]... COMMAND ...\n"
    "  list                               the component classes with their pins and properties\n"
    "  describe CLASS                     one component class in detail\n"
    "  check GRAPH.xml                    reads a graph document without running it\n"
    "  set GRAPH.xml Comp.Prop=value ...  changes properties and saves the document\n"
    "  run GRAPH.xml... [--seconds S | --buffers N] [--realtime] [--out DIR] [--set Comp.Prop=value]...\n"
    "                   [--stats] [--trace FILE.json]\n"
    "                                     runs graphs and writes what their sinks gathered into DIR\n"
    "  serve [GRAPH.xml] [--port N] [--listen ADDR] [--virtual-rate X] [--out DIR] [--panel-width W]\n"
    "                                     runs a graph and shows it live in the browser, where it is\n"
    "                                     edited too (without GRAPH.xml: an empty graph to design)\n";

std::string Quoted(std::string_view AText) { return "\"" + std::string(AText) + "\""; }

// The serve command's module: beside the program in a build tree, else where
// it is installed relative to the program. Loaded on first use, kept for the
// life of the process (the server's threads run its code).
const TServeEntry& ServeModule() {
  static const TServeEntry* const entry = [] {
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::canonical("/proc/self/exe", ec).parent_path();
    std::string why = std::string(kServeModuleName) + " is neither beside the program nor in " NX_FLOW_SERVE_MODULE_DIR;
    for (const std::filesystem::path& path : {dir / kServeModuleName, dir / NX_FLOW_SERVE_MODULE_DIR / kServeModuleName}) {
      std::error_code missing;
      if (ec || !std::filesystem::is_regular_file(path, missing)) continue;
      void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!handle) {
        why = ::dlerror();
        break;
      }
      const auto get = reinterpret_cast<const TServeEntry* (*)()>(::dlsym(handle, kServeEntrySymbol));
      if (const TServeEntry* found = get ? get() : nullptr) return found;
      why = path.string() + " is not the live server's module";
      break;
    }
    throw EFlowError("the live server cannot be loaded: " + why);
  }();
  return *entry;
}

// A package name as a document may give it: no folder, no "..", no hidden
// or option-like name.
bool IsBarePackageName(std::string_view AName) {
  if (AName.empty() || AName.size() > 128 || AName[0] == '.' || AName[0] == '-') return false;
  return std::all_of(AName.begin(), AName.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '-' || c == '.';
  });
}

std::vector<std::string> PropertyNames(const TClassInfo& AClass) {
  std::vector<std::string> names;
  for (const TPropInfo* p : AClass.Properties()) names.push_back(p->Name);
  return names;
}

// The host's part of a document: what its document element names.
TGraphFile GraphFileOf(TGraphSource ASource) {
  TGraphFile file;
  static_cast<TGraphSource&>(file) = std::move(ASource);
  if (TIntfPtr<IXmlElement> top = file.Xml->DocumentElement()) {
    file.Packages = SplitList(top->GetAttr("Packages"), ", ");
    // A document names packages, never files: loading one runs its code, so
    // only the search path the user controls decides which file that is.
    for (const std::string& package : file.Packages)
      if (!IsBarePackageName(package))
        throw EFlowError(TNXGraphDocument::MessageAt(
            file, top,
            "package " + Quoted(package) +
                " is not a bare package name (letters, digits, '_', '-' and '.', no folder): a document names "
                "packages only, and they are found on the search path (--packages, NXFLOW_PACKAGE_PATH, the "
                "folders beside nxflow)"));
    const std::string seconds = top->GetAttr("Seconds");
    if (!seconds.empty()) {
      char* end = nullptr;
      file.Seconds = std::strtod(seconds.c_str(), &end);
      if (end == seconds.c_str() || *end != 0 || !(file.Seconds > 0) || file.Seconds > 1e6)
        throw EFlowError(TNXGraphDocument::MessageAt(
            file, top, "Seconds=" + Quoted(seconds) + " is not a positive number of seconds"));
    }
  }
  return file;
}

void WriteFileAtomically(const std::string& AFileName, const std::string& AData) {
  // A temporary file beside the target, renamed over it: a failed write
  // leaves the old document as it was.
  const std::string temp = AFileName + ".nxflow-tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(AData.data(), static_cast<std::streamsize>(AData.size()));
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      throw EFlowError("cannot write " + AFileName);
    }
  }
  std::error_code ec;
  std::filesystem::rename(temp, AFileName, ec);
  if (ec) {
    std::remove(temp.c_str());
    throw EFlowError("cannot write " + AFileName + ": " + ec.message());
  }
}

// ---- the commands

struct TPinRow {
  std::string Name, Class;
  bool Source;
};

std::vector<TPinRow> PinsOf(const TClassInfo& AClass) {
  std::vector<TPinRow> pins;
  TPersistent* made = nullptr;
  try {
    made = AClass.Create(nullptr);
  } catch (const std::exception&) {
    return pins;  // a class that cannot be made on its own shows no pins
  }
  auto* component = dynamic_cast<TComponent*>(made);
  if (const auto* owner = dynamic_cast<const INXPinOwner*>(made))
    for (std::int32_t i = 0; i < owner->GetPinCount(); ++i)
      if (const TFTBasicPin* pin = owner->GetPin(i))
        pins.push_back({pin->GetName(), pin->PinClass().Name, pin->IsSourcePin()});
  if (component)
    TComponent::Free(component);
  else
    delete made;
  return pins;
}

std::string PinsText(const std::vector<TPinRow>& APins) {
  if (APins.empty()) return "none";
  std::string text;
  for (const TPinRow& p : APins)
    text += (text.empty() ? "" : ", ") + p.Name + " (" + (p.Source ? "source " : "sink ") + p.Class + ")";
  return text;
}

std::string DefaultOf(const TPropInfo& AProp) {
  if (AProp.IsObjectKind()) return AProp.Kind == TPropKind::ComponentRef ? "(none)" : "(object)";
  if (!AProp.HasDefault) return "(always stored)";
  const std::string text = AProp.DefaultText();
  return AProp.Kind == TPropKind::String ? Quoted(text) : text;
}

int CmdList(std::ostream& AOut) {
  std::vector<const TClassInfo*> classes;
  for (const TClassInfo* c : RegisteredClasses())
    if (c->IsComponent() && c->Factory()) classes.push_back(c);
  std::sort(classes.begin(), classes.end(), [](auto* a, auto* b) { return a->Name() < b->Name(); });
  for (const TClassInfo* c : classes) {
    AOut << c->Name() << "\n  pins: " << PinsText(PinsOf(*c)) << "\n  properties:";
    for (const TPropInfo* p : c->Properties()) AOut << " " << p->Name << "=" << DefaultOf(*p);
    AOut << "\n";
  }
  AOut << classes.size() << " component classes\n";
  return 0;
}

int CmdDescribe(const std::string& AName, std::ostream& AOut) {
  const TClassInfo* cls = FindClassInfo(AName);
  if (!cls || !cls->IsComponent()) throw EFlowError(UnknownComponentClassMessage(AName));
  AOut << cls->Name();
  for (const TClassInfo* p = cls->Parent(); p; p = p->Parent()) AOut << " : " << p->Name();
  AOut << "\n\nPins\n";
  const std::vector<TPinRow> pins = PinsOf(*cls);
  if (pins.empty()) AOut << "  none\n";
  for (const TPinRow& p : pins)
    AOut << "  " << std::left << std::setw(20) << p.Name << (p.Source ? "source  " : "sink    ") << p.Class << "\n";
  AOut << "\nProperties\n";
  for (const TPropertyRow& row : DescribeProperties(*cls)) {
    const TPropInfo* p = row.Info;
    AOut << "  " << std::left << std::setw(20) << p->Name << std::setw(18) << row.Type << " " << row.Default;
    if (!row.Min.empty()) AOut << " (minimum " << row.Min << ")";
    if (!row.Max.empty()) AOut << " (maximum " << row.Max << ")";
    if (p->ReadOnly()) AOut << " (read-only)";
    if (!p->Hints.Description.empty()) AOut << "  " << p->Hints.Description;
    AOut << "\n";
    if (p->Enum) {
      AOut << "  " << std::setw(20) << "" << "values:";
      for (const std::string& v : row.Values) AOut << " " << v;
      AOut << "\n";
    }
  }
  return 0;
}

std::size_t CountComponents(const TComponent& AComponent) {
  std::size_t n = 1;
  for (std::int32_t i = 0; i < AComponent.ComponentCount(); ++i) n += CountComponents(*AComponent.Components(i));
  return n;
}

struct TFreeRoot {
  TComponent* Root;
  ~TFreeRoot() { TComponent::Free(Root); }
};

// check and set load a graph under a designing holder: no generator starts.
int CmdCheck(const std::string& AFileName, TPackageLoader& APackages, std::ostream& AOut) {
  const TGraphFile file = ReadGraphFile(AFileName);
  TFreeRoot holder{new TComponent(nullptr)};
  holder.Root->SetDesigning(true);
  const TComponent& root = *LoadGraph(file, APackages, holder.Root);
  AOut << AFileName << ": ok (" << CountComponents(root) << " components, " << TNXGraphDocument::Links(root).size()
       << " links)\n";
  return 0;
}

int CmdSet(const std::string& AFileName, const std::vector<std::string>& ASettings, TPackageLoader& APackages,
           std::ostream& AOut) {
  if (ASettings.empty()) throw EFlowError("nxflow set: give at least one Component.Property=value");
  const TGraphFile file = ReadGraphFile(AFileName);
  TFreeRoot holder{new TComponent(nullptr)};
  holder.Root->SetDesigning(true);
  TComponent& root = *LoadGraph(file, APackages, holder.Root);
  for (const std::string& setting : ASettings) ApplySetting(root, setting);
  SaveGraphFile(AFileName, file, root);
  AOut << AFileName << ": " << ASettings.size() << (ASettings.size() == 1 ? " property" : " properties")
       << " set\n";
  return 0;
}

}  // namespace

std::vector<TPropertyRow> DescribeProperties(const TClassInfo& AClass) {
  std::vector<TPropertyRow> rows;
  for (const TPropInfo* p : AClass.Properties()) {
    TPropertyRow row{p, p->TypeName(), DefaultOf(*p), {}, {}, {}};
    if (p->HasMin) row.Min = p->ValueToText(p->Min);
    if (p->HasMax) row.Max = p->ValueToText(p->Max);
    if (p->Enum)
      for (std::string_view v : p->Enum->Names) row.Values.emplace_back(v);
    rows.push_back(std::move(row));
  }
  return rows;
}

void SaveGraphFile(const std::string& AFileName, const TGraphFile& AFile, const TComponent& ARoot,
                   const std::map<std::string, std::string>& AAttributes) {
  TIntfPtr<IXmlDocument> doc = TNXGraphDocument::ToXml(ARoot);
  TIntfPtr<IXmlElement> top = doc->DocumentElement();
  // What the host reads from the document element goes back with it; the
  // loader writes its own Version.
  if (TIntfPtr<IXmlElement> old = AFile.Xml ? AFile.Xml->DocumentElement() : TIntfPtr<IXmlElement>())
    for (int i = 0; i < old->AttrCount(); ++i) {
      const std::string name = old->AttrName(i);
      if (name != "Version") top->SetAttr(name, old->GetAttr(name));
    }
  for (const auto& [name, value] : AAttributes) {
    if (value.empty())
      top->RemoveAttr(name);
    else
      top->SetAttr(name, value);
  }
  WriteFileAtomically(AFileName, AFile.Binary ? doc->BinaryXML() : doc->SaveXML());
}

TGraphFile ReadGraphFile(const std::string& AFileName) {
  return GraphFileOf(TNXGraphDocument::ReadSourceFile(AFileName));
}

TGraphFile ReadGraphData(const std::string& AFileName, const std::string& AData) {
  return GraphFileOf(TNXGraphDocument::ReadSource(AData, AFileName));
}

TComponent* LoadGraph(const TGraphFile& AFile, TPackageLoader& APackages, TComponent* AOwner) {
  try {
    for (const std::string& package : AFile.Packages) APackages.Load(package);
  } catch (const EPackageError& e) {
    throw EFlowError(AFile.FileName + ": " + e.what());
  }
  // A class no named package registered may be in any package on the path.
  return TNXGraphDocument::Load(AFile, AOwner, [&](std::string_view) { return APackages.LoadAll() > 0; });
}

void ApplySetting(TComponent& ARoot, std::string_view ASetting) {
  const std::size_t eq = ASetting.find('=');
  if (eq == std::string_view::npos || eq == 0)
    throw EFlowError("setting " + Quoted(ASetting) + " is not of the form Component.Property=value");
  const std::vector<std::string> path = SplitList(std::string(ASetting.substr(0, eq)), ".");
  const std::string_view value = ASetting.substr(eq + 1);
  // Components first: a dotted path from the root (the root's own name may
  // lead it), then properties through sub-objects.
  TComponent* component = &ARoot;
  std::size_t i = 0;
  if (!path.empty() && !ARoot.Name().empty() && SameNameNoCase(path[0], ARoot.Name()) &&
      !ARoot.FindComponent(path[0]))
    i = 1;
  for (; i + 1 < path.size(); ++i) {
    TComponent* next = component->FindComponent(path[i]);
    if (!next) break;
    component = next;
  }
  if (i >= path.size()) throw EFlowError("setting " + Quoted(ASetting) + " names no property");
  TPersistent* object = component;
  for (; i + 1 < path.size(); ++i) {
    const TPropInfo* prop = object->GetClassInfo().FindProperty(path[i]);
    if (!prop || !prop->IsObjectKind() || prop->Kind == TPropKind::ComponentRef || !prop->GetObject(*object)) {
      std::vector<std::string> names;
      for (std::int32_t c = 0; c < component->ComponentCount(); ++c) names.push_back(component->Components(c)->Name());
      for (const std::string& n : PropertyNames(object->GetClassInfo())) names.push_back(n);
      throw EFlowError(object->GetNamePath() + " has no component or sub-object " + Quoted(path[i]) +
                       DidYouMean(path[i], names));
    }
    object = prop->GetObject(*object);
  }
  const TClassInfo& cls = object->GetClassInfo();
  const TPropInfo* prop = cls.FindProperty(path.back());
  if (!prop)
    throw EFlowError(object->GetNamePath() + " (" + cls.Name() + ") has no property " + Quoted(path.back()) +
                     DidYouMean(path.back(), PropertyNames(cls)));
  if (prop->ReadOnly() || (prop->IsObjectKind() && prop->Kind != TPropKind::ComponentRef))
    throw EFlowError("property " + prop->Name + " of " + object->GetNamePath() + " cannot be set from text");
  if (const std::string range = OutOfRangeMessage(*prop, value); !range.empty()) throw EFlowError(range);
  try {
    prop->SetText(*object, value);
  } catch (const EPropertyError& e) {
    throw EFlowError(std::string(e.what()));
  }
}

int RunCommandLine(const std::vector<std::string>& AArgs, std::ostream& AOut, std::ostream& AErr,
                   const std::string& AProgramPath) {
  std::vector<std::string> dirs, words;
  for (std::size_t i = 0; i < AArgs.size(); ++i) {
    if (AArgs[i] == "--packages") {
      if (i + 1 == AArgs.size()) {
        AErr << "nxflow: --packages needs a folder\n" << kUsage;
        return 2;
      }
      dirs.push_back(AArgs[++i]);
    } else if (AArgs[i] == "-h" || AArgs[i] == "--help") {
      AOut << kUsage;
      return 0;
    } else {
      words.push_back(AArgs[i]);
    }
  }
  if (words.empty()) {
    AErr << kUsage;
    return 2;
  }
  const std::string& command = words[0];
  auto needs = [&](std::size_t ACount) {
    if (words.size() - 1 >= ACount) return true;
    AErr << "nxflow " << command << ": missing argument\n" << kUsage;
    return false;
  };
  try {
    TPackageLoader packages(dirs, AProgramPath);
    if (command == "list") {
      packages.LoadAll();
      return CmdList(AOut);
    }
    if (command == "describe") {
      if (!needs(1)) return 2;
      packages.LoadAll();
      return CmdDescribe(words[1], AOut);
    }
    if (command == "check") {
      if (!needs(1)) return 2;
      return CmdCheck(words[1], packages, AOut);
    }
    if (command == "set") {
      if (!needs(2)) return 2;
      return CmdSet(words[1], std::vector<std::string>(words.begin() + 2, words.end()), packages, AOut);
    }
    if (command == "run") {
      TRunOptions options;
      try {
        options = ParseRunOptions(std::vector<std::string>(words.begin() + 1, words.end()));
      } catch (const EFlowError& e) {
        AErr << "nxflow run: " << e.what() << "\n" << kUsage;
        return 2;
      }
      options.Progress = &AErr == &std::cerr && ::isatty(2);
      return RunGraphs(options, packages, AOut, AErr);
    }
    if (command == "serve") {
      const TServeEntry& serve = ServeModule();
      TServeOptions options;
      try {
        options = serve.Parse(std::vector<std::string>(words.begin() + 1, words.end()));
      } catch (const EFlowError& e) {
        AErr << "nxflow serve: " << e.what() << "\n" << kUsage;
        return 2;
      }
      return serve.Run(options, packages, AOut, AErr);
    }
    AErr << "nxflow: unknown command " << Quoted(command)
         << DidYouMean(command, {"list", "describe", "check", "set", "run", "serve"}) << "\n"
         << kUsage;
    return 2;
  } catch (const EFlowError& e) {
    AErr << "nxflow: " << e.what() << "\n";
  } catch (const EPackageError& e) {
    AErr << "nxflow: " << e.what() << "\n";
  } catch (const std::exception& e) {
    AErr << "nxflow: " << e.what() << "\n";
  }
  return 1;
}

}  // namespace nx::flow

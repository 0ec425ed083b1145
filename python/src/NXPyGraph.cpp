// Graph documents from Python: loaded, checked, edited and saved by the
// nxflow host's own functions (nxflow/NXFlowHost.h), and run on virtual time
// as `nxflow run` runs them (NXFlowRun.h), with what every sink received
// handed back as numpy arrays.
#include "NXPyGraph.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "components/NXClockGen.h"
#include "components/NXRealSink.h"
#include "documents/NXGraphDocument.h"
#include "nxflow/NXFlowHost.h"
#include "nxflow/NXFlowPackages.h"
#include "nxflow/NXFlowRun.h"
#include "runtime/Zandor.TypeInfo.h"
#include "streams/FTPins.h"

namespace nx::py {

namespace fs = std::filesystem;
namespace pyb = pybind11;
using namespace nx::flow;

namespace {

// A sink of the graph's own kind linked beside each sink of a run to the
// same source: it keeps every sample the sink is sent.
class TSampleRecorder : public TNXRealSink {
 public:
  TSampleRecorder() : TNXRealSink(nullptr) {}
  std::vector<double> Take() {
    std::lock_guard guard(FDataLock);
    return std::move(FSamplesKept);
  }

 protected:
  void OnProcess(const TBuffer& AInput) override {
    const double* data = AInput->Read();
    FSamplesKept.insert(FSamplesKept.end(), data, data + AInput->GetSize());
  }
  void OnFinish(flow::TFlowNodeReport&) override {}

 private:
  std::vector<double> FSamplesKept;  // data lock
};

struct TRecorders {
  std::vector<std::pair<std::string, TSampleRecorder*>> Items;
  ~TRecorders() {
    for (auto& item : Items) TComponent::Free(item.second);
  }
};

// The clock is process-wide: one run at a time.
std::mutex GRunLock;

// The path of AComponent below ARoot, as settings name it ("Group.Child").
std::string PathBelow(const TComponent& ARoot, const TComponent* AComponent) {
  std::string path;
  for (const TComponent* c = AComponent; c && c != &ARoot; c = c->Owner())
    path = path.empty() ? c->Name() : c->Name() + "." + path;
  return path;
}

void CollectBelow(const TComponent& ARoot, const TComponent& AParent, std::vector<TComponent*>& AOut) {
  for (std::int32_t i = 0; i < AParent.ComponentCount(); ++i) {
    AOut.push_back(AParent.Components(i));
    CollectBelow(ARoot, *AParent.Components(i), AOut);
  }
}

// A folder made for one run and removed with everything in it.
struct TTempDir {
  fs::path Dir;
  TTempDir() {
    // mkdtemp replaces the six trailing characters with a fresh name.
    std::string pattern = (fs::temp_directory_path() / "nxruntime-run-").string() + std::string(6, 'X');
    if (!::mkdtemp(pattern.data())) throw EFlowError("cannot make a temporary folder in " + pattern);
    Dir = pattern;
  }
  ~TTempDir() {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
};

}  // namespace

// A loaded document: its file, the package search path it was loaded with,
// and its component tree under a designing holder (no generator starts).
class TPyGraph {
 public:
  TPyGraph(const std::string& AFileName, const std::vector<std::string>& APackageDirs)
      : FPackages(APackageDirs, {}), FFile(ReadGraphFile(AFileName)) {
    FHolder.Root->SetDesigning(true);
    FRoot = LoadGraph(FFile, FPackages, FHolder.Root);
  }
  TPyGraph(const TPyGraph&) = delete;
  TPyGraph& operator=(const TPyGraph&) = delete;

  const std::string& FileName() const { return FFile.FileName; }
  std::string RootName() const { return FRoot->Name(); }
  const std::vector<std::string>& SearchPath() const { return FPackages.SearchPath(); }

  std::vector<std::string> Components() const {
    std::vector<TComponent*> all;
    CollectBelow(*FRoot, *FRoot, all);
    std::vector<std::string> names;
    for (const TComponent* c : all) names.push_back(PathBelow(*FRoot, c));
    return names;
  }

  // The object a dotted path names: components from the root (whose own
  // name may lead), then sub-objects. KeyError naming what is missing.
  TPersistent& Resolve(const std::string& APath) const {
    const std::vector<std::string> parts = SplitList(APath, ".");
    TComponent* component = FRoot;
    std::size_t i = 0;
    if (!parts.empty() && SameNameNoCase(parts[0], FRoot->Name()) && !FRoot->FindComponent(parts[0])) i = 1;
    for (; i < parts.size(); ++i) {
      TComponent* next = component->FindComponent(parts[i]);
      if (!next) break;
      component = next;
    }
    TPersistent* object = component;
    for (; i < parts.size(); ++i) {
      const TPropInfo* prop = object->GetClassInfo().FindProperty(parts[i]);
      TPersistent* sub = prop && prop->IsObjectKind() && prop->Kind != TPropKind::ComponentRef
                             ? prop->GetObject(*object)
                             : nullptr;
      if (!sub) {
        std::vector<std::string> names;
        for (std::int32_t c = 0; c < component->ComponentCount(); ++c)
          names.push_back(component->Components(c)->Name());
        for (const TPropInfo* p : object->GetClassInfo().Properties())
          if (p->IsObjectKind() && p->Kind != TPropKind::ComponentRef) names.push_back(p->Name);
        throw pyb::key_error(object->GetNamePath() + " has no component or sub-object \"" + parts[i] + "\"" +
                             DidYouMean(parts[i], names));
      }
      object = sub;
    }
    return *object;
  }

  std::vector<std::string> Properties(const std::string& APath) const {
    std::vector<std::string> names;
    for (const TPropInfo* p : Resolve(APath).GetClassInfo().Properties())
      if (p->Kind != TPropKind::Event) names.push_back(p->Name);
    return names;
  }

  std::string ClassOf(const std::string& APath) const { return Resolve(APath).GetClassInfo().Name(); }

  // A property's value as Python holds it: bool, int, float, str (an
  // enumeration's or a set's text, a reference's name), or None for a
  // sub-object (the caller goes on with the longer path).
  pyb::object Get(const std::string& APath, const std::string& AName) const {
    const TPersistent& object = Resolve(APath);
    const TPropInfo* prop = object.GetClassInfo().FindProperty(AName);
    if (!prop || prop->Kind == TPropKind::Event) {
      std::vector<std::string> names;
      for (const TPropInfo* p : object.GetClassInfo().Properties()) names.push_back(p->Name);
      throw pyb::attribute_error(object.GetNamePath() + " (" + object.GetClassInfo().Name() + ") has no property \"" +
                                 AName + "\"" + DidYouMean(AName, names));
    }
    switch (prop->Kind) {
      case TPropKind::Bool: return pyb::bool_(prop->Get(object).AsBool());
      case TPropKind::Int32:
      case TPropKind::UInt32:
      case TPropKind::Int64: return pyb::int_(pyb::str(prop->GetText(object)));
      case TPropKind::Float:
      case TPropKind::Double: return pyb::float_(prop->Get(object).AsDouble());
      case TPropKind::Object:
      case TPropKind::Collection: return pyb::none();
      default: return pyb::str(prop->GetText(object));
    }
  }

  // Sets a property from its text through ApplySetting: the checks and the
  // messages of `nxflow set`. AttributeError when the object has no such
  // property, ValueError (EFlowError) for a value it refuses.
  void Set(const std::string& APath, const std::string& AName, const std::string& AText) {
    const TPersistent& object = Resolve(APath);
    const bool known = object.GetClassInfo().FindProperty(AName) != nullptr;
    const std::string target = APath.empty() ? FRoot->Name() : APath;
    try {
      ApplySetting(*FRoot, target + "." + AName + "=" + AText);
    } catch (const EFlowError& e) {
      if (!known) throw pyb::attribute_error(e.what());
      throw;
    }
  }

  void Save(const std::string& AFileName) const { SaveGraphFile(AFileName, FFile, *FRoot); }

  // Makes a component of AClass named AName in the component AOwnerPath
  // names (the root when empty); the packages on the search path are loaded
  // when the class is still unknown, as the loader does.
  std::string Add(const std::string& AClass, const std::string& AName, const std::string& AOwnerPath) {
    auto* owner = dynamic_cast<TComponent*>(&Resolve(AOwnerPath));
    if (!owner) throw EFlowError(AOwnerPath + " is a sub-object, not a component that can own others");
    auto maker = [&]() -> const TClassInfo* {
      const TClassInfo* cls = FindClassInfo(AClass);
      return cls && cls->IsComponent() && cls->Factory() ? cls : nullptr;
    };
    const TClassInfo* cls = maker();
    if (!cls && FPackages.LoadAll() > 0) cls = maker();
    if (!cls) throw EFlowError(UnknownComponentClassMessage(AClass));
    auto* made = dynamic_cast<TComponent*>(cls->Create(owner));
    try {
      made->SetName(AName);
    } catch (const Exception& e) {
      TComponent::Free(made);
      throw EFlowError(e.what());
    }
    return PathBelow(*FRoot, made);
  }

  // Links the source pin AFromPin of AFrom to the sink pin AToPin of ATo,
  // with the checks and messages of the loader's links.
  void Link(const std::string& AFrom, const std::string& AFromPin, const std::string& ATo,
            const std::string& AToPin) {
    std::string fromPath, toPath;  // as the links name them
    auto pinOf = [&](const std::string& APath, const std::string& APin, std::string* ACanonical) -> TFTBasicPin* {
      std::vector<TComponent*> all{FRoot};
      CollectBelow(*FRoot, *FRoot, all);
      TComponent* component = nullptr;
      for (TComponent* c : all)
        if (SameNameNoCase(PathBelow(*FRoot, c), APath)) component = c;
      if (!component) throw EFlowError("Link to a missing component \"" + APath + "\"");
      if (ACanonical) *ACanonical = PathBelow(*FRoot, component);
      auto* owner = dynamic_cast<INXPinOwner*>(component);
      TFTBasicPin* pin = owner ? owner->FindPin(APin) : nullptr;
      if (!pin) {
        std::vector<std::string> names;
        for (std::int32_t i = 0; owner && i < owner->GetPinCount(); ++i)
          if (const TFTBasicPin* p = owner->GetPin(i)) names.push_back(p->GetName());
        throw EFlowError("Link to a missing pin \"" + APath + "." + APin + "\"" + DidYouMean(APin, names));
      }
      return pin;
    };
    auto* source = dynamic_cast<TFTSourcePin*>(pinOf(AFrom, AFromPin, &fromPath));
    auto* sink = dynamic_cast<TFTSinkPin*>(pinOf(ATo, AToPin, &toPath));
    if (!source || !sink) throw EFlowError("A link runs from a source pin to a sink pin");
    if (source->IsConnectedTo(sink)) return;
    // Refused before linking: a stream announced round a cycle would never end.
    if (const std::string cycle = TNXGraphDocument::CycleWith(*FRoot, fromPath, toPath); !cycle.empty())
      throw EFlowError("A cycle of links: " + cycle + " (a buffer sent round it would come back without end)");
    if (!TFTLinker::Connect(*source, *sink))
      throw EFlowError("The pins \"" + source->GetName() + "\" and \"" + sink->GetName() + "\" cannot be linked");
  }

  // Runs the tree as it stands now for ASeconds of stream time (<= 0: the
  // document's Seconds, else 10 s) on virtual time; the files go into AOut
  // (empty: a temporary folder removed afterwards). Returns the samples each
  // sink received, by path.
  pyb::dict Run(double ASeconds, const std::string& AOut) {
    // The run loads its own copy, of the tree as edited: the document is the
    // one SaveGraphFile would write, read back under the file's own name so
    // that messages and relative input files are the document's.
    TIntfPtr<IXmlDocument> doc = TNXGraphDocument::ToXml(*FRoot);
    TIntfPtr<IXmlElement> top = doc->DocumentElement();
    if (TIntfPtr<IXmlElement> old = FFile.Xml ? FFile.Xml->DocumentElement() : TIntfPtr<IXmlElement>())
      for (int i = 0; i < old->AttrCount(); ++i)
        if (old->AttrName(i) != "Version") top->SetAttr(old->AttrName(i), old->GetAttr(old->AttrName(i)));
    const TGraphFile file = ReadGraphData(FFile.FileName, doc->SaveXML());

    std::optional<TTempDir> temp;
    TRunOptions options;
    options.Seconds = ASeconds > 0 ? ASeconds : -1;
    if (AOut.empty()) temp.emplace();
    options.OutDir = AOut.empty() ? (temp->Dir / "out").string() : AOut;

    std::vector<std::pair<std::string, std::vector<double>>> received;
    bool interrupted = false;
    {
      pyb::gil_scoped_release released;
      std::lock_guard runGuard(GRunLock);
      TRecorders recorders;
      std::optional<TGraphRun> made;
      {
        // Loaded with the GIL held, as every other use of the graph's package
        // loader is: a thread holding the GIL never waits for the run lock.
        pyb::gil_scoped_acquire acquired;
        made.emplace(file, options, FPackages);
      }
      TGraphRun& run = *made;
      for (TComponent* c : run.Components()) {
        auto* sink = dynamic_cast<TNXRealSink*>(c);
        if (!sink) continue;
        auto* recorder = new TSampleRecorder();
        recorders.Items.emplace_back(PathBelow(run.Root(), c), recorder);
        for (TFTBasicPin* pin : sink->InputPin()->GetConnectedPins())
          if (auto* source = dynamic_cast<TFTSourcePin*>(pin)) TFTLinker::Connect(*source, *recorder->InputPin());
      }
      interrupted = Drive(run, file.FileName);
      for (auto& [path, recorder] : recorders.Items) received.emplace_back(path, recorder->Take());
      if (!interrupted) run.Finish();
    }
    if (interrupted) throw pyb::error_already_set();

    pyb::dict result;
    for (auto& [path, samples] : received) {
      auto* kept = new std::vector<double>(std::move(samples));
      pyb::capsule owner(kept, [](void* p) { delete static_cast<std::vector<double>*>(p); });
      result[pyb::str(path)] = pyb::array_t<double>(static_cast<pyb::ssize_t>(kept->size()), kept->data(), owner);
    }
    return result;
  }

 private:
  // RunGraph's loop: the clock released for the run's steps, the run
  // ending when they are done or every generator stopped; a fault ends it
  // with its message. A signal Python has to handle (Ctrl-C) stops the
  // graph; true then, with the Python error set.
  static bool Drive(TGraphRun& ARun, const std::string& AGraph) {
    const std::uint64_t steps = ARun.Steps();
    ARun.Start();
    NXSetClockStepLimit(steps + 1);
    using TClock = std::chrono::steady_clock;
    auto unpacedSince = TClock::time_point::max();
    auto lastSignalCheck = TClock::now();
    for (;;) {
      const std::uint64_t done =
          ARun.Paced() ? static_cast<std::uint64_t>(ARun.PacedSeconds() * 1000) : NXMasterClockSteps();
      if (!ARun.AnyGeneratorRunning()) break;
      if (ARun.Paced() ? done >= steps : (done > steps && NXClocksIdle())) break;
      if (std::string fault = ARun.Fault(); !fault.empty()) {
        TGraphRun::HoldClockHere();
        ARun.Stop();
        throw EFlowError(AGraph + ": " + fault);
      }
      const auto now = TClock::now();
      if (NXClockGenCount() > 0 || ARun.Paced()) {
        unpacedSince = TClock::time_point::max();
      } else if (unpacedSince == TClock::time_point::max()) {
        unpacedSince = now;
      } else if (now - unpacedSince > std::chrono::milliseconds(500)) {
        ARun.Stop();
        throw EFlowError(AGraph + ": no generator paces the stream: the generators run, but none has a clock "
                                  "(check their SampleRate, BufferSize and ClockSource)");
      }
      if (now - lastSignalCheck > std::chrono::milliseconds(100)) {
        lastSignalCheck = now;
        pyb::gil_scoped_acquire acquired;
        if (PyErr_CheckSignals() != 0) {
          TGraphRun::HoldClockHere();
          ARun.Stop();
          return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ARun.Stop();
    return false;
  }

  TPackageLoader FPackages;
  TGraphFile FFile;
  struct THolder {
    TComponent* Root = new TComponent(nullptr);
    ~THolder() { TComponent::Free(Root); }
  } FHolder;
  TComponent* FRoot = nullptr;
};

void RegisterGraph(pyb::module_& m) {
  // A user's mistake in a document, a value or a package: ValueError with
  // the host's own one-line message.
  pyb::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const EFlowError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const EGraphDocumentError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const EPackageError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    }
  });

  pyb::class_<TPyGraph>(m, "_Graph")
      .def(pyb::init<const std::string&, const std::vector<std::string>&>(), pyb::arg("path"),
           pyb::arg("package_dirs"))
      .def_property_readonly("path", &TPyGraph::FileName)
      .def_property_readonly("name", &TPyGraph::RootName)
      .def_property_readonly("package_path", &TPyGraph::SearchPath)
      .def_property_readonly("components", &TPyGraph::Components)
      .def("properties", &TPyGraph::Properties, pyb::arg("path"))
      .def("class_name", &TPyGraph::ClassOf, pyb::arg("path"))
      .def("get", &TPyGraph::Get, pyb::arg("path"), pyb::arg("name"))
      .def("set", &TPyGraph::Set, pyb::arg("path"), pyb::arg("name"), pyb::arg("text"))
      .def("save", &TPyGraph::Save, pyb::arg("path"))
      .def("add", &TPyGraph::Add, pyb::arg("class_name"), pyb::arg("name"), pyb::arg("owner"))
      .def("link", &TPyGraph::Link, pyb::arg("source"), pyb::arg("source_pin"), pyb::arg("sink"),
           pyb::arg("sink_pin"))
      .def("run", &TPyGraph::Run, pyb::arg("seconds"), pyb::arg("out"));
}

}  // namespace nx::py

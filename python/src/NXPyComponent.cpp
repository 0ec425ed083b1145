// Component classes written in Python (nxruntime.component, components.py):
// each Python class becomes a component class of the library's registry, a
// filter of real buffers whose OnStart/OnProcess/OnStop call the instance's
// start(rate)/process(x)/stop() with the GIL taken for the call and released
// otherwise. Its published properties are described at run time from the
// Python class's declaration and live in a table of values in the component
// (the library's checks, streaming and `nxflow set` work on them as on any
// other); they reach the Python instance as attributes before start and
// whenever one changed, before the next buffer.
//
// The same code serves both hosts: inside Python (nxruntime.Graph) and inside
// nxflow, where the "nxpython" package embeds the interpreter
// (embed/NXPythonPackage.cpp) and imports this module like any Python program.
#include "NXPyComponent.h"

#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "buffers/NXSimpleDataBuffer.h"
#include "components/NXFlowNode.h"
#include "components/NXRealFilter.h"
#include "nxflow/NXFlowPackages.h"
#include "runtime/Zandor.TypeInfo.h"

namespace nx::py {

// The tag of classes described at run time: a component class whose parent,
// factory and properties are filled in by its builder below.
struct TRuntimeClassTag {
  using inherited = void;
  using TOwnerType = TComponent;
  static constexpr bool kNXIsComponent = true;
  static constexpr bool kNXIsCollection = false;
};

}  // namespace nx::py

namespace nx {

// The builder of run-time classes (the builders are the class description's
// friends): a class derived from AParent, made by AFactory, publishing AOwn.
template <>
class TClassBuilder<py::TRuntimeClassTag> {
 public:
  static TClassInfo* Make(std::string_view AName, const TClassInfo& AParent, TClassInfo::TFactory AFactory,
                          std::vector<std::unique_ptr<TPropInfo>> AOwn) {
    auto* info = new TClassInfo(TClassInfo::TTag<py::TRuntimeClassTag>{}, AName);
    info->FParent = &AParent;
    info->FIsComponent = AParent.IsComponent();
    info->FFactory = AFactory;
    for (auto& p : AOwn) {
      p->DeclaredBy = info;
      p->Hash = PropNameHash(p->Name);
      info->FOwn.push_back(std::move(p));
    }
    info->Finish();
    return info;
  }
};

}  // namespace nx

namespace nx::py {

namespace {

// A property's getter and a class's factory are plain function pointers
// without a context: each property index and each class gets one of a fixed
// table. Hence the limits: 64 properties a class, 256 classes a process.
constexpr std::size_t kMaxProperties = 64;
constexpr std::size_t kMaxClasses = 256;

class TNXPyFilter;

// A registered Python component class.
struct TPyClass {
  TClassInfo* Info = nullptr;
  pyb::object Type;        // the Python class (GIL)
  bool WritesOut = false;  // process(x, out) instead of returning the output
  std::vector<std::string> Signature;  // "name:kind" of each property: what a class registered again must match
  std::size_t IndexOf(const TPropInfo& AProp) const {
    const auto& own = Info->OwnProperties();
    for (std::size_t i = 0; i < own.size(); ++i)
      if (own[i].get() == &AProp) return i;
    throw EPropertyError("Property " + AProp.Name + " is not one of class " + Info->Name());
  }
};

std::mutex GClassesLock;
std::array<TPyClass*, kMaxClasses> GClasses{};  // never freed: the classes stay registered
std::size_t GClassCount = 0;

std::string FormatPythonError(pyb::error_already_set& AError) {
  try {
    pyb::object lines = pyb::module_::import("traceback").attr("format_exception")(AError.type(), AError.value(),
                                                                                     AError.trace());
    std::string text = pyb::str("").attr("join")(lines).cast<std::string>();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  } catch (...) {
    return AError.what();
  }
}

// The releaser of a view's block.
void ReleaseBlock(PyObject* ACapsule) {
  static_cast<TNXSmartBuffer*>(PyCapsule_GetPointer(ACapsule, nullptr))->RemoveReff(true);
}

// A numpy view of a buffer's samples that keeps the block alive while it
// lives: no sample copied. A writer of the buffer copies the block first
// while the view holds it.
pyb::array ViewOf(const TIntfPtr<INXRealBuffer>& ABuffer, double* AData, bool AWritable) {
  auto* generic = dynamic_cast<TNXGenericBuffer*>(ABuffer.Get());
  TNXSmartBuffer* block = generic ? generic->DataContainer() : nullptr;
  auto& api = pyb::detail::npy_api::get();
  static const pyb::dtype kFloat64 = pyb::dtype::of<double>();
  Py_intptr_t n = static_cast<Py_intptr_t>(ABuffer->GetSize());
  int flags = pyb::detail::npy_api::NPY_ARRAY_C_CONTIGUOUS_ | pyb::detail::npy_api::NPY_ARRAY_ALIGNED_;
  if (AWritable) flags |= pyb::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  Py_INCREF(kFloat64.ptr());
  auto view = pyb::reinterpret_steal<pyb::array>(
      api.PyArray_NewFromDescr_(api.PyArray_Type_, kFloat64.ptr(), 1, &n, nullptr, AData, flags, nullptr));
  if (!view) throw pyb::error_already_set();
  if (block) {
    block->AddReff(true);
    PyObject* capsule = PyCapsule_New(block, nullptr, &ReleaseBlock);
    if (!capsule) {
      block->RemoveReff(true);
      throw pyb::error_already_set();
    }
    if (api.PyArray_SetBaseObject_(view.ptr(), capsule) < 0) throw pyb::error_already_set();
  }
  return view;
}

void ClearWritable(const pyb::array& AView) {
  pyb::detail::array_proxy(AView.ptr())->flags &= ~pyb::detail::npy_api::NPY_ARRAY_WRITEABLE_;
}

pyb::object ToPython(const TPropInfo& AProp, const TVariant& AValue) {
  switch (AProp.Kind) {
    case TPropKind::Bool: return pyb::bool_(AValue.AsBool());
    case TPropKind::Int64: return pyb::int_(AValue.AsInt64());
    case TPropKind::Double: return pyb::float_(AValue.AsDouble());
    default: return pyb::str(std::string(AValue.StrView()));
  }
}

// Whether the interpreter can still run code (not when the process is
// ending: Python objects left then are left to it).
bool PythonAlive() {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsInitialized() && !Py_IsFinalizing();
#else
  return Py_IsInitialized() && !_Py_IsFinalizing();
#endif
}

// The GIL for a stream thread. A thread keeps one Python thread state for as
// long as it lives (made the first time it calls Python, cleared when it
// ends): taking the GIL per buffer then costs a lock hand-over, where a thread
// state made and cleared per call would cost more than a small process().
// A thread that holds the GIL already (a Python caller) keeps it.
class TThreadPython {
 public:
  TThreadPython() : FState(PyGILState_Ensure()), FSaved(PyEval_SaveThread()) {}
  ~TThreadPython() {
    if (!PythonAlive()) return;  // the interpreter went first: nothing left to clear
    PyEval_RestoreThread(FSaved);
    PyGILState_Release(FState);
  }
  PyThreadState* State() const noexcept { return FSaved; }

 private:
  PyGILState_STATE FState;
  PyThreadState* FSaved;
};

class TStreamGil {
 public:
  TStreamGil() : FTaken(!PyGILState_Check()) {
    if (!FTaken) return;
    thread_local TThreadPython thread;
    PyEval_RestoreThread(thread.State());
  }
  ~TStreamGil() {
    if (FTaken) PyEval_SaveThread();
  }
  TStreamGil(const TStreamGil&) = delete;
  TStreamGil& operator=(const TStreamGil&) = delete;

 private:
  bool FTaken;
};

// A component of a Python class. OnStart makes a fresh instance of the class
// (its __init__ without arguments); an exception raised by start, process
// or stop stops this component's stream (nothing more is sent) and becomes
// its flow fault, with Python's traceback, which ends the run.
class TNXPyFilter final : public TNXRealFilter, public flow::INXFlowNode {
 public:
  TNXPyFilter(TComponent* AOwner, TPyClass& AClass) : TNXRealFilter(AOwner), FClass(AClass) {
    FValues.resize(AClass.Info->OwnProperties().size());
    AClass.Info->InitOwnProperties(*this);
  }
  ~TNXPyFilter() override {
    if (!FInstance && !FProcess) return;
    if (PythonAlive()) {
      pyb::gil_scoped_acquire gil;
      FProcess = pyb::object();
      FInstance = pyb::object();
    } else {
      FProcess.release();
      FInstance.release();
    }
  }
  const TClassInfo& GetClassInfo() const override { return *FClass.Info; }

  TVariant Value(std::size_t AIndex) const { return ReadLocked(FValues[AIndex]); }
  void InitValue(std::size_t AIndex, const TVariant& AValue) { FValues[AIndex] = AValue; }
  void SetValue(std::size_t AIndex, TVariant AValue) {
    if (SetNotify(FValues[AIndex], std::move(AValue))) FGeneration.fetch_add(1, std::memory_order_release);
  }
  TPyClass& PyClass() const { return FClass; }

  std::string FlowFault() const override {
    std::lock_guard guard(FFaultLock);
    return FFault;
  }

 protected:
  void OnStart(double ASampleRate) override {
    TStreamGil gil;
    try {
      FInstance = FClass.Type();
      FPushed = 0;
      PushProperties();
      FProcess = FInstance.attr("process");
      if (pyb::hasattr(FInstance, "start")) FInstance.attr("start")(ASampleRate);
    } catch (pyb::error_already_set& e) {
      Fail("start", e);
    }
  }

  void OnProcess(const TBuffer& AInput, TBuffer& AOutput) override {
    if (FFailed.load(std::memory_order_relaxed) || !AInput) {
      AOutput = nullptr;
      return;
    }
    TStreamGil gil;
    try {
      if (!FProcess) throw std::runtime_error("process called before start");
      if (FGeneration.load(std::memory_order_acquire) != FPushed) PushProperties();
      pyb::array input = ViewOf(AInput, const_cast<double*>(AInput->Read()), false);
      if (FClass.WritesOut) {
        pyb::array out = ViewOf(AOutput, AOutput->Write(), true);
        pyb::object result = FProcess(input, out);
        ClearWritable(out);  // a view kept by the component writes nothing after the call
        if (!result.is_none()) Take(result, input, AOutput);
      } else {
        Take(FProcess(input), input, AOutput);
      }
    } catch (pyb::error_already_set& e) {
      Fail("process", e);
      AOutput = nullptr;
    } catch (const std::exception& e) {
      Fail("process", e.what());
      AOutput = nullptr;
    }
  }

  void OnStop() override {
    TStreamGil gil;
    try {
      if (FInstance && !FFailed.load() && pyb::hasattr(FInstance, "stop")) FInstance.attr("stop")();
    } catch (pyb::error_already_set& e) {
      Fail("stop", e);
    }
    FProcess = pyb::object();
    FInstance = pyb::object();
  }

 private:
  // The result of process: None sends nothing, the input view itself sends
  // the input unchanged (no copy), any other array is copied into the output
  // block (a fresh one of its own size when the size differs).
  static void Take(const pyb::object& AResult, const pyb::array& AInput, TBuffer& AOutput) {
    if (AResult.is_none()) {
      AOutput = nullptr;
      return;
    }
    if (AResult.ptr() == AInput.ptr()) return;
    auto samples = pyb::array_t<double, pyb::array::c_style | pyb::array::forcecast>::ensure(AResult);
    if (!samples)
      throw pyb::type_error("process returned " + std::string(pyb::str(pyb::type::handle_of(AResult).attr("__name__"))) +
                            ", not an array of numbers (or None, to send nothing)");
    const auto n = static_cast<std::uint32_t>(samples.size());
    if (AOutput && n == static_cast<std::uint32_t>(AOutput->GetSize()))
      std::memcpy(AOutput->Write(), samples.data(), n * sizeof(double));
    else
      AOutput = TNXRealBuffer::MakeData(samples.data(), n);
  }

  // Under the GIL.
  void PushProperties() {
    const std::uint64_t generation = FGeneration.load(std::memory_order_acquire);
    const auto& own = FClass.Info->OwnProperties();
    for (std::size_t i = 0; i < own.size(); ++i)
      FInstance.attr(own[i]->Name.c_str()) = ToPython(*own[i], Value(i));
    FPushed = generation;
  }

  void Fail(const char* AWhere, pyb::error_already_set& AError) { Fail(AWhere, FormatPythonError(AError)); }
  void Fail(const char* AWhere, const std::string& AText) {
    FFailed.store(true);
    std::lock_guard guard(FFaultLock);
    if (FFault.empty())
      FFault = Name() + " (" + FClass.Info->Name() + "): " + AWhere + " raised an exception, its stream stopped:\n" +
               AText;
  }

  TPyClass& FClass;
  std::vector<TVariant> FValues;                 // the published values (the object's lock)
  std::atomic<std::uint64_t> FGeneration{1};     // counts changes of the values
  std::uint64_t FPushed = 0;                     // the generation the instance has (GIL)
  pyb::object FInstance, FProcess;               // GIL
  std::atomic<bool> FFailed{false};
  mutable std::mutex FFaultLock;
  std::string FFault;                            // fault lock
};

// The per-index getters and per-class factories.
template <std::size_t I>
void GetValue(const TPersistent& AObject, TVariant& AValue) {
  AValue = dynamic_cast<const TNXPyFilter&>(AObject).Value(I);
}
template <std::size_t... I>
constexpr auto GetterTable(std::index_sequence<I...>) {
  return std::array<void (*)(const TPersistent&, TVariant&), sizeof...(I)>{&GetValue<I>...};
}
constexpr auto kGetters = GetterTable(std::make_index_sequence<kMaxProperties>{});

template <std::size_t I>
TPersistent* MakeComponent(TPersistent* AOwner) {
  TComponent* owner = nullptr;
  if (AOwner && !(owner = dynamic_cast<TComponent*>(AOwner)))
    throw EPropertyError("Class " + GClasses[I]->Info->Name() + " needs a component as its owner");
  return new TNXPyFilter(owner, *GClasses[I]);
}
template <std::size_t... I>
constexpr auto FactoryTable(std::index_sequence<I...>) {
  return std::array<TClassInfo::TFactory, sizeof...(I)>{&MakeComponent<I>...};
}
constexpr auto kFactories = FactoryTable(std::make_index_sequence<kMaxClasses>{});

void SetValue(const TPropInfo& AProp, TPersistent& AObject, const TVariant& AValue) {
  auto& self = dynamic_cast<TNXPyFilter&>(AObject);
  TVariant value = AProp.Coerce(AValue);
  // The generic setter's clamping (a document or `nxflow set` is refused
  // out of range before it gets here).
  if (AProp.Kind == TPropKind::Int64 || AProp.Kind == TPropKind::Double) {
    const double v = value.AsDouble();
    if (AProp.HasMin && v < AProp.Min.AsDouble()) value = AProp.Min;
    if (AProp.HasMax && v > AProp.Max.AsDouble()) value = AProp.Max;
  }
  self.SetValue(self.PyClass().IndexOf(AProp), std::move(value));
}

void InitValue(const TPropInfo& AProp, TPersistent& AObject) {
  auto& self = dynamic_cast<TNXPyFilter&>(AObject);
  self.InitValue(self.PyClass().IndexOf(AProp), AProp.Default);
}

// One property from its Python declaration (components.py): name, kind
// ("bool", "int", "float", "str"), default, minimum, maximum (None: none),
// description.
std::unique_ptr<TPropInfo> MakeProperty(const pyb::tuple& ADecl, std::size_t AIndex) {
  auto p = std::make_unique<TPropInfo>();
  p->Name = ADecl[0].cast<std::string>();
  const std::string kind = ADecl[1].cast<std::string>();
  const pyb::handle def = ADecl[2];
  if (kind == "bool") {
    p->Kind = TPropKind::Bool;
    p->Default = TVariant(def.cast<bool>());
  } else if (kind == "int") {
    p->Kind = TPropKind::Int64;
    p->Default = TVariant(static_cast<long long>(def.cast<std::int64_t>()));
  } else if (kind == "float") {
    p->Kind = TPropKind::Double;
    p->Default = TVariant(def.cast<double>());
  } else if (kind == "str") {
    p->Kind = TPropKind::String;
    p->Default = TVariant(def.cast<std::string>());
  } else {
    throw pyb::type_error("property " + p->Name + ": a property is a bool, int, float or str, not " + kind);
  }
  if (!ADecl[3].is_none()) {
    p->HasMin = true;
    p->Min = p->Coerce(TVariant(ADecl[3].cast<double>()));
  }
  if (!ADecl[4].is_none()) {
    p->HasMax = true;
    p->Max = p->Coerce(TVariant(ADecl[4].cast<double>()));
  }
  p->Hints.Description = ADecl[5].cast<std::string>();
  p->GetFn = kGetters[AIndex];
  p->SetFn = &SetValue;
  p->InitFn = &InitValue;
  return p;
}

// Registers (or, for a class of that name registered before with the same
// properties, updates) a Python component class.
void RegisterComponent(const std::string& AName, const pyb::object& AType, const std::vector<pyb::tuple>& AProps,
                       bool AWritesOut) {
  if (AProps.size() > kMaxProperties)
    throw pyb::value_error("component class " + AName + " publishes " + std::to_string(AProps.size()) +
                           " properties; a Python component publishes at most " + std::to_string(kMaxProperties));
  std::vector<std::string> signature;
  for (const pyb::tuple& p : AProps) signature.push_back(p[0].cast<std::string>() + ":" + p[1].cast<std::string>());
  std::lock_guard guard(GClassesLock);
  if (const TClassInfo* known = FindClassInfo(AName)) {
    for (std::size_t i = 0; i < GClassCount; ++i)
      if (GClasses[i]->Info == known) {
        if (GClasses[i]->Signature != signature)
          throw pyb::value_error("component class " + AName +
                                 " is registered already with other properties (a class changed in a module "
                                 "imported again needs a new process)");
        GClasses[i]->Type = AType;
        GClasses[i]->WritesOut = AWritesOut;
        return;
      }
    throw pyb::value_error("a component class named " + AName + " is registered already");
  }
  if (GClassCount == kMaxClasses)
    throw pyb::value_error("no more than " + std::to_string(kMaxClasses) + " Python component classes in a process");
  std::vector<std::unique_ptr<TPropInfo>> own;
  for (std::size_t i = 0; i < AProps.size(); ++i) own.push_back(MakeProperty(AProps[i], i));
  auto* cls = new TPyClass{nullptr, AType, AWritesOut, std::move(signature)};
  cls->Info = TClassBuilder<TRuntimeClassTag>::Make(AName, TNXRealFilter::StaticClassInfo(), kFactories[GClassCount],
                                                    std::move(own));
  GClasses[GClassCount] = cls;
  RegisterClass(*cls->Info);
  ++GClassCount;
}

// The package loader's way into this interpreter: a module NAME.py found on
// the package search path, imported from that file alone.
void ImportModuleFile(const std::string& AFile, const std::string& AName) {
  pyb::gil_scoped_acquire gil;
  try {
    pyb::module_::import("nxruntime.components").attr("_import_module_file")(AName, AFile);
  } catch (pyb::error_already_set& e) {
    throw EPackageError("Python module " + AName + " (" + AFile + ") cannot be imported:\n" + FormatPythonError(e));
  }
}

}  // namespace

void RegisterComponents(pyb::module_& m) {
  flow::SetPythonModuleImporter(&ImportModuleFile);
  m.def("_register_component", &RegisterComponent, pyb::arg("name"), pyb::arg("type"), pyb::arg("properties"),
        pyb::arg("writes_out"));
  m.def("_component_limits", [] { return pyb::make_tuple(kMaxProperties, kMaxClasses); });
}

}  // namespace nx::py

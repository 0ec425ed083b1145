// Every primitive of the dispatch lists as a Python callable, generated from
// the lists the library itself is built from: NXPyUnits.inc (written by CMake
// from the vector/NX*Dispatcher.inc files) includes each list with NX_PRIM
// defined below, so a primitive added to a list appears here by itself.
//
// The Python form of a primitive mirrors its C signature, parameter by
// parameter, with numpy arrays for the pointers:
//   - const pointers to elements (const Ipp64f* pSrc): arrays of exactly
//     that dtype, C-contiguous;
//   - pointers named pDst..., pSrcDst... or mDst...: writable arrays;
//   - other pointers named p... (pSum, pMin, pIndx, pSeed, pDp ...): results,
//     returned (one value, or a tuple in parameter order); a keyword argument
//     of that name gives the initial value (pSeed);
//   - FFT specs and filter states: handles returned by the InitAlloc
//     primitives (ppState, ppFFTSpec), freed by the Free primitives or when
//     the handle is collected;
//   - pDlyLine and pBuffer may be None (the routine's own zeros / work memory);
//   - scalars: int, float, complex, (width, height) for IppiSize and
//     (x, y, width, height) for IppiRect.
// Before a routine runs, every array is checked against the element count
// the call's length parameters ask of it (rules on the vendor's parameter
// names: len, srcLen, src1Len, tapsLen, numBq, the image steps and ROI
// sizes, the FFT spec's order); a wrong dtype is a TypeError, a short array,
// a negative step or an error status a ValueError that names the primitive
// (and the status, "ippStsSizeErr (-6)"); a warning status is a
// RuntimeWarning. The GIL is released while the routine runs.
#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "NXPyCommon.h"
#include "runtime/SysUtils.h"

// The dispatcher headers (generated: one #include per vector/NX*Dispatcher.inc).
#include "NXPyUnitHeaders.inc"

namespace nx::py {
namespace {

enum class TKind { Int, Float, Complex, Size, Rect, Point, InArray, OutArray, OutScalar, WorkBuffer, ArrayList, HandleIn, HandleOut, Unsupported };

const char* KindName(TKind k) {
  switch (k) {
    case TKind::Int: return "int";
    case TKind::Float: return "float";
    case TKind::Complex: return "complex";
    case TKind::Size: return "size";
    case TKind::Rect: return "rect";
    case TKind::Point: return "point";
    case TKind::InArray: return "in";
    case TKind::OutArray: return "out";
    case TKind::OutScalar: return "result";
    case TKind::WorkBuffer: return "work";
    case TKind::ArrayList: return "arrays";
    case TKind::HandleIn: return "handle";
    case TKind::HandleOut: return "new_handle";
    default: return "unsupported";
  }
}

struct TParam {
  TParam(std::string AName = {}, TKind AKind = TKind::Unsupported) : Name(std::move(AName)), Kind(AKind) {}
  std::string Name;
  TKind Kind = TKind::Unsupported;
  std::string DType;   // numpy dtype name of the elements ("" for none)
  std::string Handle;  // the handle type (IppsFFTSpec_R_64f)
  bool Nullable = false;
};

// The handle of an FFT spec or filter state: the pointer, its type, the
// length parameters of the call that made it (an FFT spec's order) and the
// Free primitive that releases it.
struct THandle {
  void* Ptr = nullptr;
  std::string Type;
  std::map<std::string, long long> Made;
  std::function<void(void*)> Free;
  ~THandle() {
    if (Ptr && Free) Free(Ptr);
  }
};

// What a call has read so far, for the size checks.
struct TArrayRec {
  std::string Name;
  long long Count = 0;  // elements
  long long ElemSize = 1;
  bool Null = false;
  const void* Data = nullptr;  // the elements (for per-channel counts such as nLevels)
};
struct TCall {
  const std::string* Prim = nullptr;
  std::map<std::string, long long> Ints;
  std::map<std::string, std::pair<long long, long long>> Sizes;  // IppiSize: width, height
  std::vector<TArrayRec> Arrays;
  std::vector<std::pair<std::string, std::vector<long long>>> Lists;  // element counts of each array
  std::vector<THandle*> Handles;
  std::optional<long long> Int(const std::string& n) const {
    auto it = Ints.find(n);
    if (it == Ints.end()) return std::nullopt;
    return it->second;
  }
};

[[noreturn]] void Fail(PyObject* AType, const TCall& c, const std::string& AMessage) {
  PyErr_SetString(AType, (*c.Prim + ": " + AMessage).c_str());
  throw pyb::error_already_set();
}

std::string Demangled(const char* AName) {
  int status = 0;
  char* s = abi::__cxa_demangle(AName, nullptr, nullptr, &status);
  std::string r = status == 0 && s ? s : AName;
  std::free(s);
  for (const char* strip : {"nx::", "const", "*", " "}) {
    for (auto p = r.find(strip); p != std::string::npos; p = r.find(strip)) r.erase(p, std::strlen(strip));
  }
  return r;
}

bool StartsWith(const std::string& s, const char* p) { return s.rfind(p, 0) == 0; }

// The Free primitive of each handle type (found in the lists: a primitive
// with "Free" in its name whose only parameter is that handle).
std::map<std::string, std::function<void(void*)>>& FreeFunctions() {
  static std::map<std::string, std::function<void(void*)>> m;
  return m;
}

template <class T>
constexpr bool kHandleType = std::is_class_v<std::remove_cv_t<T>> && !TElem<std::remove_cv_t<T>>::value;

// ---- one parameter: its Python kind, reading it, handing it to the routine
template <class T, class = void>
struct TArg {
  static TParam Describe(const std::string& n) { return {n, TKind::Unsupported}; }
  void Load(pyb::handle, const TParam& p, TCall& c) { Fail(PyExc_NotImplementedError, c, "parameter " + p.Name + " has a type the binding does not know"); }
  T Get() { return T{}; }
  void Output(pyb::list&) {}
};

long long ToLong(pyb::handle h, const TParam& p, TCall& c) {
  if (PyBool_Check(h.ptr()) || !PyIndex_Check(h.ptr())) Fail(PyExc_TypeError, c, p.Name + " must be an int, not " + std::string(Py_TYPE(h.ptr())->tp_name));
  int overflow = 0;
  pyb::object i = pyb::reinterpret_steal<pyb::object>(PyNumber_Index(h.ptr()));
  if (!i) throw pyb::error_already_set();
  const long long v = PyLong_AsLongLongAndOverflow(i.ptr(), &overflow);
  if (overflow) Fail(PyExc_ValueError, c, p.Name + " is out of range");
  return v;
}

template <class T>
struct TArg<T, std::enable_if_t<std::is_integral_v<T>>> {
  T V{};
  static TParam Describe(const std::string& n) { return {n, TKind::Int}; }
  void Load(pyb::handle h, const TParam& p, TCall& c) {
    const long long v = ToLong(h, p, c);
    if (v < static_cast<long long>(std::numeric_limits<T>::min()) || (v > 0 && static_cast<unsigned long long>(v) > static_cast<unsigned long long>(std::numeric_limits<T>::max())))
      Fail(PyExc_ValueError, c, p.Name + " = " + std::to_string(v) + " is out of range of its C type");
    V = static_cast<T>(v);
    c.Ints[p.Name] = v;
  }
  T Get() { return V; }
  void Output(pyb::list&) {}
};

template <class T>
struct TArg<T, std::enable_if_t<std::is_floating_point_v<T>>> {
  T V{};
  static TParam Describe(const std::string& n) { return {n, TKind::Float}; }
  void Load(pyb::handle h, const TParam& p, TCall& c) {
    const double v = PyFloat_AsDouble(h.ptr());
    if (v == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      Fail(PyExc_TypeError, c, p.Name + " must be a real number, not " + std::string(Py_TYPE(h.ptr())->tp_name));
    }
    V = static_cast<T>(v);
  }
  T Get() { return V; }
  void Output(pyb::list&) {}
};

template <class T>
struct TArg<T, std::enable_if_t<std::is_same_v<T, Ipp64fc> || std::is_same_v<T, Ipp32fc>>> {
  T V{};
  static TParam Describe(const std::string& n) { return {n, TKind::Complex}; }
  void Load(pyb::handle h, const TParam& p, TCall& c) {
    const Py_complex v = PyComplex_AsCComplex(h.ptr());
    if (v.real == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      Fail(PyExc_TypeError, c, p.Name + " must be a complex number");
    }
    V.re = static_cast<decltype(V.re)>(v.real);
    V.im = static_cast<decltype(V.im)>(v.imag);
  }
  T Get() { return V; }
  void Output(pyb::list&) {}
};

std::vector<long long> IntTuple(pyb::handle h, std::size_t n, const TParam& p, TCall& c) {
  if (!PySequence_Check(h.ptr()) || PySequence_Size(h.ptr()) != static_cast<Py_ssize_t>(n))
    Fail(PyExc_TypeError, c, p.Name + " must be a tuple of " + std::to_string(n) + " ints");
  std::vector<long long> r;
  for (std::size_t i = 0; i < n; ++i) {
    pyb::object item = pyb::reinterpret_steal<pyb::object>(PySequence_GetItem(h.ptr(), static_cast<Py_ssize_t>(i)));
    const long long v = ToLong(item, p, c);
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) Fail(PyExc_ValueError, c, p.Name + " is out of range");
    r.push_back(v);
  }
  return r;
}

template <>
struct TArg<IppiSize> {
  IppiSize V{};
  static TParam Describe(const std::string& n) { return {n, TKind::Size}; }
  void Load(pyb::handle h, const TParam& p, TCall& c) {
    auto v = IntTuple(h, 2, p, c);
    V = {static_cast<int>(v[0]), static_cast<int>(v[1])};
    c.Sizes[p.Name] = {v[0], v[1]};
  }
  IppiSize Get() { return V; }
  void Output(pyb::list&) {}
};
template <>
struct TArg<IppiRect> {
  IppiRect V{};
  static TParam Describe(const std::string& n) { return {n, TKind::Rect}; }
  void Load(pyb::handle h, const TParam& p, TCall& c) {
    auto v = IntTuple(h, 4, p, c);
    V = {static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]), static_cast<int>(v[3])};
  }
  IppiRect Get() { return V; }
  void Output(pyb::list&) {}
};
template <>
struct TArg<IppiPoint> {
  IppiPoint V{};
  static TParam Describe(const std::string& n) { return {n, TKind::Point}; }
  void Load(pyb::handle h, const TParam& p, TCall& c) {
    auto v = IntTuple(h, 2, p, c);
    V = {static_cast<int>(v[0]), static_cast<int>(v[1])};
  }
  IppiPoint Get() { return V; }
  void Output(pyb::list&) {}
};

// The kind of a pointer to elements, from constness and the vendor's names.
TKind ElemPointerKind(const std::string& n, bool AConst) {
  if (n == "pBuffer") return TKind::WorkBuffer;
  if (AConst) return TKind::InArray;
  if (StartsWith(n, "pDst") || StartsWith(n, "pSrcDst") || StartsWith(n, "mDst")) return TKind::OutArray;
  if (StartsWith(n, "p")) return TKind::OutScalar;
  return TKind::InArray;  // a writable C array that the routine reads (int nLevels[4])
}
bool NullableName(const std::string& n) { return n == "pDlyLine" || n == "pBuffer"; }

pyb::array CheckedArray(pyb::handle h, const pyb::dtype& dt, bool AWritable, const TParam& p, TCall& c) {
  if (!pyb::isinstance<pyb::array>(h))
    Fail(PyExc_TypeError, c, p.Name + " must be a numpy array of " + DTypeName(dt) + ", not " + std::string(Py_TYPE(h.ptr())->tp_name));
  pyb::array a = pyb::reinterpret_borrow<pyb::array>(h);
  if (!SameDType(a, dt)) Fail(PyExc_TypeError, c, p.Name + " must have dtype " + DTypeName(dt) + ", not " + DTypeName(a.dtype()));
  if (!(a.flags() & pyb::array::c_style)) Fail(PyExc_ValueError, c, p.Name + " must be C-contiguous");
  if (AWritable && !a.writeable()) Fail(PyExc_ValueError, c, p.Name + " must be writable (it is an output)");
  return a;
}

template <class E>
struct TArg<E*> {
  using TBare = std::remove_cv_t<E>;
  static constexpr bool kElem = TElem<TBare>::value;
  static constexpr bool kHandle = kHandleType<E>;
  static constexpr bool kPtrPtr = std::is_pointer_v<TBare>;

  E* Ptr = nullptr;
  pyb::object Keep;
  std::conditional_t<kElem, TBare, char> Scalar{};
  TKind Kind = TKind::Unsupported;
  // ArrayList / HandleOut storage
  std::vector<std::conditional_t<kPtrPtr, TBare, void*>> List;
  std::conditional_t<kPtrPtr, TBare, void*> NewHandle{};
  std::string Name;

  static TParam Describe(const std::string& n) {
    TParam p{n};
    if constexpr (kElem) {
      p.Kind = ElemPointerKind(n, std::is_const_v<E>);
      p.DType = DTypeName(TElem<TBare>::DType());
      p.Nullable = NullableName(n);
    } else if constexpr (kHandle) {
      p.Kind = TKind::HandleIn;
      p.Handle = Demangled(typeid(TBare*).name());
    } else if constexpr (kPtrPtr) {
      using F = std::remove_cv_t<std::remove_pointer_t<TBare>>;
      if constexpr (TElem<F>::value) {
        p.Kind = TKind::ArrayList;
        p.DType = DTypeName(TElem<F>::DType());
      } else if constexpr (kHandleType<F>) {
        p.Kind = TKind::HandleOut;
        p.Handle = Demangled(typeid(F*).name());
      }
    }
    return p;
  }

  void Load(pyb::handle h, const TParam& p, TCall& c) {
    Kind = p.Kind;
    Name = p.Name;
    if constexpr (kElem) {
      if (p.Kind == TKind::OutScalar) {
        if (h && !h.is_none()) {
          if constexpr (TElem<TBare>::value && (std::is_same_v<TBare, Ipp64fc> || std::is_same_v<TBare, Ipp32fc>)) {
            const std::complex<double> v = h.cast<std::complex<double>>();
            Scalar.re = static_cast<decltype(Scalar.re)>(v.real());
            Scalar.im = static_cast<decltype(Scalar.im)>(v.imag());
          } else {
            Scalar = h.cast<TBare>();
          }
        }
        Ptr = &Scalar;
        return;
      }
      if ((!h || h.is_none()) && p.Nullable) {
        c.Arrays.push_back({p.Name, 0, sizeof(TBare), true});
        return;
      }
      if (p.Kind == TKind::WorkBuffer) Fail(PyExc_ValueError, c, p.Name + " must be None (the routine takes its own work memory)");
      pyb::array a = CheckedArray(h, TElem<TBare>::DType(), p.Kind == TKind::OutArray, p, c);
      Ptr = static_cast<E*>(const_cast<void*>(a.data()));
      c.Arrays.push_back({p.Name, static_cast<long long>(a.size()), sizeof(TBare), false, a.data()});
      Keep = std::move(a);
    } else if constexpr (kHandle) {
      if (!h || !pyb::isinstance<THandle>(h)) Fail(PyExc_TypeError, c, p.Name + " must be a handle of " + p.Handle);
      THandle& hd = h.cast<THandle&>();
      if (hd.Type != p.Handle) Fail(PyExc_TypeError, c, p.Name + " must be a handle of " + p.Handle + ", not of " + hd.Type);
      if (!hd.Ptr) Fail(PyExc_ValueError, c, p.Name + ": the handle has been freed");
      Ptr = static_cast<E*>(hd.Ptr);
      c.Handles.push_back(&hd);
      Keep = pyb::reinterpret_borrow<pyb::object>(h);
    } else if constexpr (kPtrPtr) {
      using F = std::remove_cv_t<std::remove_pointer_t<TBare>>;
      if constexpr (TElem<F>::value) {
        if (!h || !PySequence_Check(h.ptr())) Fail(PyExc_TypeError, c, p.Name + " must be a sequence of arrays of " + p.DType);
        pyb::sequence s = pyb::reinterpret_borrow<pyb::sequence>(h);
        pyb::list keep;
        std::vector<long long> counts;
        for (pyb::handle item : s) {
          TParam ip = p;
          ip.Name = p.Name + "[" + std::to_string(counts.size()) + "]";
          pyb::array a = CheckedArray(item, TElem<F>::DType(), !std::is_const_v<std::remove_pointer_t<TBare>>, ip, c);
          List.push_back(static_cast<TBare>(const_cast<void*>(a.data())));
          counts.push_back(a.size());
          keep.append(a);
        }
        c.Lists.push_back({p.Name, counts});
        Keep = keep;
        Ptr = List.data();
      } else {
        NewHandle = nullptr;
        Ptr = &NewHandle;
      }
    } else {
      Fail(PyExc_NotImplementedError, c, "parameter " + p.Name + " has a type the binding does not know");
    }
  }
  E* Get() { return Ptr; }

  void Output(pyb::list& AOut) {
    if constexpr (kElem) {
      if (Kind != TKind::OutScalar) return;
      if constexpr (std::is_same_v<TBare, Ipp64fc> || std::is_same_v<TBare, Ipp32fc>)
        AOut.append(pyb::cast(std::complex<double>(Scalar.re, Scalar.im)));
      else
        AOut.append(pyb::cast(Scalar));
    } else if constexpr (kPtrPtr) {
      using F = std::remove_cv_t<std::remove_pointer_t<TBare>>;
      if constexpr (kHandleType<F>) {
        auto hd = std::make_unique<THandle>();
        hd->Ptr = NewHandle;
        hd->Type = Demangled(typeid(F*).name());
        auto it = FreeFunctions().find(hd->Type);
        if (it != FreeFunctions().end()) hd->Free = it->second;
        AOut.append(pyb::cast(std::move(hd)));
      }
    }
  }
};

// ---- the element count each array must hold, from the call's other arguments
long long Channels(const std::string& prim) {
  if (prim.find("_24u") != std::string::npos) return 3;
  if (prim.find("_AC4") != std::string::npos || prim.find("_C4") != std::string::npos) return 4;
  if (prim.find("_C3") != std::string::npos) return 3;
  return 1;
}

// pSrc1 -> "src1", pSrcDst -> "srcDst"
std::string Stem(const std::string& n) {
  std::string s = n.substr(1);
  if (!s.empty()) s[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])));
  return s;
}

std::optional<long long> Required(const TCall& c, const TArrayRec& a) {
  const std::string& prim = *c.Prim;
  const long long ch = Channels(prim);
  auto nonneg = [](long long v) { return std::max<long long>(v, 0); };
  // FFT: from the spec's order.
  for (const THandle* h : c.Handles) {
    auto it = h->Made.find("order");
    if (h->Type.find("FFTSpec") == std::string::npos || it == h->Made.end()) continue;
    const long long n = 1LL << it->second;
    const bool src = StartsWith(a.Name, "pSrc") && !StartsWith(a.Name, "pSrcDst");
    if (prim.find("RToCCS") != std::string::npos) return src ? n : n + 2;
    if (prim.find("CCSToR") != std::string::npos) return src ? n + 2 : n;
    return n;
  }
  // Images: step x (height - 1) + width x channels x element size, in bytes.
  if (StartsWith(prim, "ippi")) {
    if (a.Name == "value") return ch;
    if (a.Name == "nLevels") return ch;
    const std::string stem = Stem(a.Name);
    auto step = c.Int(stem + "Step");
    const bool dst = StartsWith(a.Name, "pDst") || StartsWith(a.Name, "pSrcDst");
    const char* sizeNames[] = {dst ? "dstRoiSize" : "srcSize", "roiSize"};
    for (const char* sn : sizeNames) {
      auto it = c.Sizes.find(sn);
      if (it == c.Sizes.end() || !step) continue;
      if (*step < 0) return -1;
      const long long w = nonneg(it->second.first), h = nonneg(it->second.second);
      if (w == 0 || h == 0) return 0;
      const long long bytes = *step * (h - 1) + w * ch * a.ElemSize;
      return (bytes + a.ElemSize - 1) / a.ElemSize;
    }
    return std::nullopt;
  }
  // Filter taps and delay lines.
  if (a.Name == "pTaps" || a.Name == "pDlyLine") {
    const bool taps = a.Name == "pTaps";
    if (auto t = c.Int("tapsLen")) return nonneg(*t);
    if (auto b = c.Int("numBq")) return nonneg(*b) * (taps ? 6 : 2);
    if (auto o = c.Int("order")) return taps ? 2 * (nonneg(*o) + 1) : nonneg(*o);
  }
  // Lengths named after their array: srcLen, src1Len, dstLen.
  if (auto l = c.Int(Stem(a.Name) + "Len")) return nonneg(*l) * ch;
  if (a.Name == "pDst") {
    auto l1 = c.Int("src1Len"), l2 = c.Int("src2Len");
    if (l1 && l2) return std::max<long long>(nonneg(*l1) + nonneg(*l2) - 1, 0);
  }
  for (const char* n : {"len", "lenDst", "numIters"})
    if (auto l = c.Int(n)) return nonneg(*l) * ch;
  return std::nullopt;
}

void CheckSizes(const TCall& c) {
  for (const TArrayRec& a : c.Arrays) {
    if (a.Null) continue;
    auto need = Required(c, a);
    if (!need) Fail(PyExc_NotImplementedError, c, "no rule gives the size of " + a.Name + " (see nxruntime/primitives.py)");
    if (*need < 0) Fail(PyExc_ValueError, c, "the step of " + a.Name + " must not be negative");
    if (a.Count < *need)
      Fail(PyExc_ValueError, c, a.Name + " holds " + std::to_string(a.Count) + " elements, the call needs " + std::to_string(*need));
  }
  for (const auto& [name, counts] : c.Lists) {
    const long long ch = Channels(*c.Prim);
    if (!StartsWith(*c.Prim, "ippi") || (name != "pValues" && name != "pLevels"))
      Fail(PyExc_NotImplementedError, c, "no rule gives the size of " + name);
    if (static_cast<long long>(counts.size()) != ch)
      Fail(PyExc_ValueError, c, name + " must hold " + std::to_string(ch) + " arrays, one per channel");
    // each channel's array holds at least its nLevels entry (checked above to hold ch values)
    auto levels = std::find_if(c.Arrays.begin(), c.Arrays.end(), [](const TArrayRec& a) { return a.Name == "nLevels"; });
    if (levels == c.Arrays.end() || levels->Null || levels->ElemSize != sizeof(int))
      Fail(PyExc_NotImplementedError, c, "no rule gives the size of " + name);
    const int* n = static_cast<const int*>(levels->Data);
    for (long long k = 0; k < ch; ++k)
      if (counts[static_cast<std::size_t>(k)] < n[k])
        Fail(PyExc_ValueError, c, name + "[" + std::to_string(k) + "] holds " + std::to_string(counts[static_cast<std::size_t>(k)]) +
                                      " elements, nLevels asks for " + std::to_string(n[k]));
  }
}

// ---- a primitive
struct TPrim {
  std::string Unit, Name, Signature;
  std::vector<TParam> Params;
  std::function<pyb::object(const TPrim&, pyb::args, pyb::kwargs)> Invoke;
  bool Available = true;
};

template <class... A, std::size_t... I>
pyb::object CallImpl(const TPrim& d, IppStatus (*const* APtr)(A...), pyb::args args, pyb::kwargs kw, std::index_sequence<I...>) {
  TCall c;
  c.Prim = &d.Name;
  IppStatus (*fn)(A...) = *APtr;
  if (!fn) Fail(PyExc_NotImplementedError, c, "not available (a vendor-only primitive and no vendor library was loaded)");
  std::tuple<TArg<A>...> slots;
  // Which Python value goes to each parameter: the positional ones in order
  // over the parameters that are not results, then the keywords.
  std::vector<pyb::handle> values(sizeof...(A));
  std::size_t next = 0;
  for (pyb::handle v : args) {
    while (next < d.Params.size() && (d.Params[next].Kind == TKind::OutScalar || d.Params[next].Kind == TKind::HandleOut)) ++next;
    if (next >= d.Params.size()) Fail(PyExc_TypeError, c, "takes " + std::to_string(next) + " arguments at most, got " + std::to_string(args.size()));
    values[next++] = v;
  }
  for (auto item : kw) {
    const std::string k = pyb::str(item.first);
    auto it = std::find_if(d.Params.begin(), d.Params.end(), [&](const TParam& p) { return p.Name == k; });
    if (it == d.Params.end() || it->Kind == TKind::HandleOut) Fail(PyExc_TypeError, c, "got an unexpected keyword argument '" + k + "'");
    const std::size_t i = static_cast<std::size_t>(it - d.Params.begin());
    if (values[i]) Fail(PyExc_TypeError, c, "got two values for argument '" + k + "'");
    values[i] = item.second;
  }
  for (std::size_t i = 0; i < d.Params.size(); ++i) {
    const TParam& p = d.Params[i];
    if (!values[i] && p.Kind != TKind::OutScalar && p.Kind != TKind::HandleOut && !p.Nullable)
      Fail(PyExc_TypeError, c, "missing argument '" + p.Name + "'");
  }
  (std::get<I>(slots).Load(values[I], d.Params[I], c), ...);
  CheckSizes(c);
  IppStatus st = 0;
  std::string error;
  {
    pyb::gil_scoped_release release;
    try {
      st = fn(std::get<I>(slots).Get()...);
    } catch (const std::exception& e) {
      error = e.what();
      if (error.empty()) error = "C++ exception";
    }
  }
  if (!error.empty()) Fail(PyExc_RuntimeError, c, error);
  if (d.Name.find("Free") != std::string::npos)
    for (THandle* h : c.Handles) h->Ptr = nullptr;
  if (st < 0) Fail(PyExc_ValueError, c, std::string(StatusName(st)) + " (" + std::to_string(st) + ")");
  pyb::list out;
  (std::get<I>(slots).Output(out), ...);
  // A new handle remembers the length parameters of the call that made it.
  for (pyb::handle o : out) {
    if (pyb::isinstance<THandle>(o)) o.cast<THandle&>().Made = c.Ints;
  }
  if (st > 0) {
    const std::string w = d.Name + ": " + StatusName(st) + " (" + std::to_string(st) + ")";
    if (PyErr_WarnEx(PyExc_RuntimeWarning, w.c_str(), 1) < 0) throw pyb::error_already_set();
  }
  if (out.size() == 0) return pyb::none();
  if (out.size() == 1) return out[0];
  return pyb::tuple(out);
}

// Parameter names from the list's parameter text "(const Ipp64f* pSrc, int len)".
std::vector<std::string> ParamNames(const std::string& AText) {
  std::vector<std::string> names;
  std::string body = AText.substr(1, AText.size() - 2);
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t comma = body.find(',', start);
    std::string part = body.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    // the name: the last identifier before any [..]
    auto br = part.find('[');
    if (br != std::string::npos) part = part.substr(0, br);
    while (!part.empty() && !std::isalnum(static_cast<unsigned char>(part.back())) && part.back() != '_') part.pop_back();
    std::size_t b = part.size();
    while (b > 0 && (std::isalnum(static_cast<unsigned char>(part[b - 1])) || part[b - 1] == '_')) --b;
    names.push_back(part.substr(b));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return names;
}

template <class... A>
TPrim MakePrim(const char* AUnit, const char* AName, const char* AParams, IppStatus (*const* APtr)(A...)) {
  TPrim d;
  d.Unit = AUnit;
  d.Name = AName;
  d.Signature = AParams;
  const auto names = ParamNames(AParams);
  std::size_t i = 0;
  ((d.Params.push_back(TArg<A>::Describe(i < names.size() ? names[i] : "arg" + std::to_string(i))), ++i), ...);
  d.Available = *APtr != nullptr;
  d.Invoke = [APtr](const TPrim& p, pyb::args a, pyb::kwargs k) {
    return CallImpl(p, APtr, std::move(a), std::move(k), std::index_sequence_for<A...>{});
  };
  // A Free primitive: the release function of its handle type.
  if constexpr (sizeof...(A) == 1) {
    using H = std::tuple_element_t<0, std::tuple<A...>>;
    if constexpr (std::is_pointer_v<H> && kHandleType<std::remove_pointer_t<H>>) {
      if (d.Name.find("Free") != std::string::npos) {
        FreeFunctions()[Demangled(typeid(H).name())] = [APtr](void* p) {
          if (*APtr) (*APtr)(static_cast<H>(p));
        };
      }
    }
  }
  return d;
}

std::vector<std::shared_ptr<TPrim>> AllPrimitives() {
  std::vector<std::shared_ptr<TPrim>> r;
#define NX_PRIM(L, name, params) r.push_back(std::make_shared<TPrim>(MakePrim(NX_PY_UNIT_NAME, #name, #params, &::nx::NX_PY_UNIT_NS::name)));
#define NX_PRIM_NOFALLBACK NX_PRIM
#include "NXPyUnitLists.inc"
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK
  return r;
}

}  // namespace

void RegisterPrimitives(pyb::module_& m) {
  pyb::module_ pm = m.def_submodule("_primitives", "The vector primitives of the dispatch lists");
  pyb::class_<THandle, std::unique_ptr<THandle>>(pm, "Handle", "An FFT spec or filter state made by an InitAlloc primitive")
      .def_property_readonly("type", [](const THandle& h) { return h.Type; })
      .def_property_readonly("freed", [](const THandle& h) { return h.Ptr == nullptr; })
      .def_property_readonly("made_with", [](const THandle& h) { return h.Made; })
      .def("__repr__", [](const THandle& h) { return "<nxruntime handle " + h.Type + (h.Ptr ? "" : " (freed)") + ">"; });

  pyb::class_<TPrim, std::shared_ptr<TPrim>>(pm, "Primitive", "A vector primitive of the library's dispatch lists")
      .def("__call__", [](const TPrim& p, pyb::args a, pyb::kwargs k) { return p.Invoke(p, std::move(a), std::move(k)); })
      .def_property_readonly("name", [](const TPrim& p) { return p.Name; })
      .def_property_readonly("unit", [](const TPrim& p) { return p.Unit; })
      .def_property_readonly("signature", [](const TPrim& p) { return p.Signature; })
      .def_property_readonly("available", [](const TPrim& p) { return p.Available; })
      .def_property_readonly("params", [](const TPrim& p) {
        pyb::list l;
        for (const TParam& q : p.Params)
          l.append(pyb::make_tuple(q.Name, KindName(q.Kind), q.DType.empty() ? q.Handle : q.DType, q.Nullable));
        return l;
      }, "(name, kind, dtype or handle type, may be None) per C parameter")
      .def("__repr__", [](const TPrim& p) { return "<primitive " + p.Unit + "." + p.Name + p.Signature + ">"; });

  pyb::list all;
  for (auto& p : AllPrimitives()) all.append(pyb::cast(p));
  pm.attr("all") = all;

  // The constants of the primitives' option parameters.
  pyb::dict k;
#define NX_K(name) k[#name] = static_cast<long long>(::nx::name);
  NX_K(ippRndZero) NX_K(ippRndNear) NX_K(ippAlgHintNone) NX_K(ippAlgHintFast) NX_K(ippAlgHintAccurate)
  NX_K(IPP_FFT_DIV_FWD_BY_N) NX_K(IPP_FFT_DIV_INV_BY_N) NX_K(IPP_FFT_DIV_BY_SQRTN) NX_K(IPP_FFT_NODIV_BY_ANY)
  NX_K(ippAxsHorizontal) NX_K(ippAxsVertical) NX_K(ippAxsBoth)
  NX_K(ippCmpLess) NX_K(ippCmpLessEq) NX_K(ippCmpEq) NX_K(ippCmpGreaterEq) NX_K(ippCmpGreater)
  NX_K(ippAlphaOver) NX_K(ippAlphaIn) NX_K(ippAlphaOut) NX_K(ippAlphaATop) NX_K(ippAlphaXor) NX_K(ippAlphaPlus)
  NX_K(ippAlphaOverPremul) NX_K(ippAlphaInPremul) NX_K(ippAlphaOutPremul) NX_K(ippAlphaATopPremul) NX_K(ippAlphaXorPremul) NX_K(ippAlphaPlusPremul)
  NX_K(IPPI_INTER_NN) NX_K(IPPI_INTER_LINEAR) NX_K(IPPI_INTER_CUBIC) NX_K(IPPI_INTER_SUPER) NX_K(IPPI_INTER_LANCZOS)
#undef NX_K
  pm.attr("constants") = k;
  pm.def("status_name", [](int s) { return std::string(StatusName(s)); });
}

}  // namespace nx::py

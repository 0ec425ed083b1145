// The library's buffers as Python objects. numpy.asarray(buffer) is a
// zero-copy, read-only view of the data block that holds the block as one of
// its owners: the view keeps the samples alive without the buffer object, and
// a later write through the buffer copies the block first (copy on write), so
// a view never changes under its reader. buffer.modify() makes the block the
// buffer's own (copying it when anything else owns it) and hands out a
// writable view of it. Buffers pickle through the library's serialisation
// (NXDataObjectToBytes).
#include "NXPyBuffers.h"

#include <cstring>

#include "buffers/Zandor.BasicDataTypes.h"

namespace nx::py {

namespace {

const char* const kClassNames[] = {"RealBuffer", "ComplexBuffer", "IntegerBuffer", "UnsignedBuffer",
                                   "BlockBuffer", "BooleanBuffer", "RealMatrixBuffer"};

pyb::dtype KindDType(TBufKind k) {
  switch (k) {
    case TBufKind::Real:
    case TBufKind::Matrix: return pyb::dtype::of<double>();
    case TBufKind::Complex: return pyb::dtype::of<std::complex<double>>();
    case TBufKind::Integer: return pyb::dtype::of<std::int32_t>();
    case TBufKind::Unsigned: return pyb::dtype::of<std::uint32_t>();
    default: return pyb::dtype::of<std::uint8_t>();
  }
}

// The dtype objects, made once (a view is made in well under a microsecond).
pyb::dtype& CachedDType(TBufKind k) {
  static pyb::dtype* cache[7] = {};
  auto& slot = cache[static_cast<int>(k)];
  if (!slot) slot = new pyb::dtype(KindDType(k));  // kept for the life of the process
  return *slot;
}

std::vector<pyb::ssize_t> Shape(const TPyBuffer& b) {
  if (b.Kind == TBufKind::Matrix) {
    auto* m = dynamic_cast<INXRealMatrixBuffer*>(b.Obj.Get());
    return {m->GetRows(), m->GetCols()};
  }
  const auto itemSize = static_cast<pyb::ssize_t>(CachedDType(b.Kind).itemsize());
  return {static_cast<pyb::ssize_t>(b.B->GetByteSize()) / itemSize};
}

// A view of the block's bytes; AOwner counts the view as an owner of the block.
pyb::array View(const TPyBuffer& b, void* AData, bool AWritable) {
  const pyb::dtype& dt = CachedDType(b.Kind);
  const auto shape = Shape(b);
  TNXSmartBuffer* block = b.B->DataContainer();
  if (!AData || !block) {
    pyb::array empty(dt, shape);
    return empty;
  }
  block->AddReff(!AWritable);
  pyb::capsule keep(block, AWritable ? [](void* p) { static_cast<TNXSmartBuffer*>(p)->RemoveReff(false); }
                                     : [](void* p) { static_cast<TNXSmartBuffer*>(p)->RemoveReff(true); });
  pyb::array a(dt, shape, {}, AData, keep);
  if (!AWritable) pyb::detail::array_proxy(a.ptr())->flags &= ~pyb::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return a;
}

template <class T>
pyb::array_t<T, pyb::array::c_style | pyb::array::forcecast> Contiguous(pyb::handle h) {
  auto a = pyb::array_t<T, pyb::array::c_style | pyb::array::forcecast>::ensure(h);
  if (a) return a;
  // numpy's own conversion, for its message ("could not convert string to float")
  pyb::object r = pyb::module_::import("numpy").attr("ascontiguousarray")(h, pyb::dtype::of<T>());
  return r.cast<pyb::array_t<T, pyb::array::c_style | pyb::array::forcecast>>();
}

std::uint32_t Count(pyb::ssize_t n) {
  if (n < 0 || n > 0x7FFFFFFF) throw pyb::value_error("a buffer holds at most 2**31 - 1 elements");
  return static_cast<std::uint32_t>(n);
}

TPyBuffer MakeFrom(TBufKind k, pyb::handle data) {
  switch (k) {
    case TBufKind::Real: {
      auto a = Contiguous<double>(data);
      return TPyBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeData(a.data(), Count(a.size()))));
    }
    case TBufKind::Complex: {
      auto a = Contiguous<std::complex<double>>(data);
      return TPyBuffer(TIntfPtr<INXData>(TNXComplexBuffer::MakeData(reinterpret_cast<const TComplex*>(a.data()), Count(a.size()))));
    }
    case TBufKind::Integer: {
      auto a = Contiguous<std::int32_t>(data);
      return TPyBuffer(TIntfPtr<INXData>(TNXIntegerBuffer::MakeData(a.data(), Count(a.size()))));
    }
    case TBufKind::Unsigned: {
      auto a = Contiguous<std::uint32_t>(data);
      return TPyBuffer(TIntfPtr<INXData>(TNXUnsignedBuffer::MakeData(a.data(), Count(a.size()))));
    }
    case TBufKind::Block: {
      auto a = Contiguous<std::uint8_t>(data);
      return TPyBuffer(TIntfPtr<INXData>(TNXBlockBuffer::MakeData(a.data(), Count(a.size()))));
    }
    case TBufKind::Boolean: {
      auto a = Contiguous<bool>(data);
      const std::uint32_t n = Count(a.size());
      std::vector<std::uint8_t> packed((n + 7) / 8, 0);
      for (std::uint32_t i = 0; i < n; ++i)
        if (a.data()[i]) packed[i >> 3] = static_cast<std::uint8_t>(packed[i >> 3] | (1u << (i & 7)));
      return TPyBuffer(TIntfPtr<INXData>(TNXBooleanBuffer::MakeData(packed.data(), n)));
    }
    case TBufKind::Matrix: {
      auto a = Contiguous<double>(data);
      if (a.ndim() != 2) throw pyb::value_error("RealMatrixBuffer takes a 2-D array");
      return TPyBuffer(TIntfPtr<INXData>(TNXRealMatrixBuffer::MakeData(a.data(), static_cast<std::int32_t>(Count(a.shape(0))), static_cast<std::int32_t>(Count(a.shape(1))))));
    }
  }
  throw pyb::value_error("unknown buffer kind");
}

template <TBufKind K>
struct TPyTyped : TPyBuffer {
  explicit TPyTyped(TPyBuffer ABuffer) : TPyBuffer(std::move(ABuffer)) {}
};

// numpy.asarray(buffer) asks for __array_struct__ and __array_interface__
// before __array__. The generic lookup raises a fully formed AttributeError
// for each (message, name and object attached): most of the time of a view.
// The buffer types answer those two names with a bare AttributeError.
getattrofunc gBaseGetAttr = nullptr;
PyObject* gArrayStruct = nullptr;
PyObject* gArrayInterface = nullptr;
PyObject* QuickGetAttr(PyObject* self, PyObject* name) {
  if (name == gArrayStruct || name == gArrayInterface) {
    PyErr_SetObject(PyExc_AttributeError, name);
    return nullptr;
  }
  return gBaseGetAttr(self, name);
}
void QuickLookups(pyb::handle type) {
  auto* t = reinterpret_cast<PyTypeObject*>(type.ptr());
  if (!gBaseGetAttr) {
    gBaseGetAttr = t->tp_getattro;
    gArrayStruct = PyUnicode_InternFromString("__array_struct__");
    gArrayInterface = PyUnicode_InternFromString("__array_interface__");
  }
  if (t->tp_getattro == gBaseGetAttr) t->tp_getattro = &QuickGetAttr;
}

// __array__ as a plain C method (no argument conversion layer): a view is
// made in a few hundred nanoseconds, most of them numpy's own.
void ReleaseOwner(PyObject* cap) { static_cast<TNXSmartBuffer*>(PyCapsule_GetPointer(cap, nullptr))->RemoveReff(true); }

PyObject* FastArray(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  try {
    const TPyBuffer& b = pyb::handle(self).cast<const TPyBuffer&>();
    PyObject* dtype = nargs > 0 ? args[0] : nullptr;
    if (kwnames) {
      for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i)
        if (PyUnicode_CompareWithASCIIString(PyTuple_GET_ITEM(kwnames, i), "dtype") == 0) dtype = args[nargs + i];
    }
    TNXSmartBuffer* block = b.B->DataContainer();
    const void* data = b.B->ByteRead();
    pyb::object view;
    if (!data || !block || b.Kind == TBufKind::Matrix) {
      view = ReadView(b);
    } else {
      auto& api = pyb::detail::npy_api::get();
      const pyb::dtype& dt = CachedDType(b.Kind);
      Py_intptr_t n = static_cast<Py_intptr_t>(b.B->GetByteSize() / static_cast<std::uint32_t>(dt.itemsize()));
      Py_INCREF(dt.ptr());
      view = pyb::reinterpret_steal<pyb::object>(api.PyArray_NewFromDescr_(
          api.PyArray_Type_, dt.ptr(), 1, &n, nullptr, const_cast<void*>(data),
          pyb::detail::npy_api::NPY_ARRAY_C_CONTIGUOUS_ | pyb::detail::npy_api::NPY_ARRAY_ALIGNED_, nullptr));
      if (!view) return nullptr;
      block->AddReff(true);
      PyObject* cap = PyCapsule_New(block, nullptr, &ReleaseOwner);
      if (!cap) {
        block->RemoveReff(true);
        return nullptr;
      }
      if (api.PyArray_SetBaseObject_(view.ptr(), cap) < 0) return nullptr;  // steals cap
    }
    if (dtype && dtype != Py_None) return view.attr("astype")(pyb::handle(dtype)).release().ptr();
    return view.release().ptr();
  } catch (pyb::error_already_set& e) {
    e.restore();
    return nullptr;
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
    return nullptr;
  }
}
PyMethodDef gArrayMethod = {"__array__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&FastArray)),
                            METH_FASTCALL | METH_KEYWORDS,
                            "__array__(dtype=None, copy=None)\n\nA read-only view of the block (no copy); it owns the block while it lives."};

template <TBufKind K>
void RegisterKind(pyb::module_& m, const char* ADoc) {
  auto cls = pyb::class_<TPyTyped<K>, TPyBuffer>(m, kClassNames[static_cast<int>(K)], ADoc)
      .def(pyb::init([](pyb::handle data) { return TPyTyped<K>(MakeFrom(K, data)); }), pyb::arg("data"));
  QuickLookups(cls);
}

}  // namespace

TPyBuffer::TPyBuffer(TIntfPtr<INXData> AObj) : Obj(std::move(AObj)) {
  if (!Obj) throw pyb::value_error("no buffer");
  B = TNXGenericBuffer::BufferOf(Obj.Get());
  if (Supports<INXRealMatrixBuffer>(Obj)) Kind = TBufKind::Matrix;
  else if (Supports<INXRealBuffer>(Obj)) Kind = TBufKind::Real;
  else if (Supports<INXComplexBuffer>(Obj)) Kind = TBufKind::Complex;
  else if (Supports<INXIntegerBuffer>(Obj)) Kind = TBufKind::Integer;
  else if (Supports<INXUnsignedBuffer>(Obj)) Kind = TBufKind::Unsigned;
  else if (Supports<INXBooleanBuffer>(Obj)) Kind = TBufKind::Boolean;
  else Kind = TBufKind::Block;
}

pyb::object WrapBuffer(TIntfPtr<INXData> AObj) {
  TPyBuffer b(std::move(AObj));
  switch (b.Kind) {
    case TBufKind::Real: return pyb::cast(TPyTyped<TBufKind::Real>(std::move(b)));
    case TBufKind::Complex: return pyb::cast(TPyTyped<TBufKind::Complex>(std::move(b)));
    case TBufKind::Integer: return pyb::cast(TPyTyped<TBufKind::Integer>(std::move(b)));
    case TBufKind::Unsigned: return pyb::cast(TPyTyped<TBufKind::Unsigned>(std::move(b)));
    case TBufKind::Boolean: return pyb::cast(TPyTyped<TBufKind::Boolean>(std::move(b)));
    case TBufKind::Matrix: return pyb::cast(TPyTyped<TBufKind::Matrix>(std::move(b)));
    default: return pyb::cast(TPyTyped<TBufKind::Block>(std::move(b)));
  }
}

pyb::array ReadView(const TPyBuffer& b) { return View(b, const_cast<std::uint8_t*>(b.B->ByteRead()), false); }

void RegisterBuffers(pyb::module_& m) {
  auto base = pyb::class_<TPyBuffer>(m, "Buffer", "A reference-counted, copy-on-write buffer of the library");
  QuickLookups(base);
  {
    pyb::object method = pyb::reinterpret_steal<pyb::object>(
        PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(base.ptr()), &gArrayMethod));
    base.attr("__array__") = method;
  }
  base
      .def("modify", [](TPyBuffer& b) {
            std::uint8_t* p = b.B->ByteModify();  // the block becomes the buffer's own
            return View(b, p, true);
          }, "Makes the block the buffer's own (copying it when it is shared) and returns a writable view of it")
      .def("share", [](TPyBuffer& b) { return WrapBuffer(b.B->GetDataCopy()); },
           "A new buffer on the same block (no samples copied; the first write copies)")
      .def("__copy__", [](TPyBuffer& b) { return WrapBuffer(b.B->GetDataCopy()); })
      .def("__deepcopy__", [](TPyBuffer& b, pyb::object) { return WrapBuffer(b.B->GetDataCopy()); })
      .def("__len__", [](const TPyBuffer& b) { return Shape(b)[0]; })
      .def_property_readonly("size", [](const TPyBuffer& b) { return b.B->GetSize(); }, "Elements (bits for a BooleanBuffer, rows x columns for a matrix)")
      .def_property_readonly("shape", [](const TPyBuffer& b) { return pyb::tuple(pyb::cast(Shape(b))); })
      .def_property_readonly("dtype", [](const TPyBuffer& b) { return KindDType(b.Kind); })
      .def_property_readonly("nbytes", [](const TPyBuffer& b) { return b.B->GetByteSize(); })
      .def_property_readonly("address", [](const TPyBuffer& b) { return reinterpret_cast<std::uintptr_t>(b.B->ByteRead()); },
                             "The address of the first sample in the block")
      .def_property_readonly("owners", [](const TPyBuffer& b) { return b.B->DataContainer()->OwnerCount(); },
                             "How many buffers and read-only views own the block")
      .def("__eq__", [](const TPyBuffer& a, pyb::object o) -> pyb::object {
            if (!pyb::isinstance<TPyBuffer>(o)) return pyb::reinterpret_borrow<pyb::object>(Py_NotImplemented);
            const TPyBuffer& b = o.cast<const TPyBuffer&>();
            auto other = Supports<INXDataBuffer>(b.Obj);
            return pyb::bool_(a.Kind == b.Kind && a.B->IsEqual(other));
          })
      .def("to_bytes", [](const TPyBuffer& b) { return pyb::bytes(NXDataObjectToBytes(b.Obj.Get())); },
           "The library's serialised form (class, custom items, sequence stamp, samples)")
      .def("__reduce__", [](const TPyBuffer& b) {
            // The library's class registry leaves the unsigned buffer out of serialisation.
            if (b.Kind == TBufKind::Unsigned) throw pyb::type_error("an UnsignedBuffer cannot be pickled (the library does not serialise it)");
            return pyb::make_tuple(pyb::module_::import("nxruntime").attr("_unpickle_buffer"),
                                   pyb::make_tuple(pyb::bytes(NXDataObjectToBytes(b.Obj.Get()))));
          })
      .def("__repr__", [](const TPyBuffer& b) {
            return std::string(kClassNames[static_cast<int>(b.Kind)]) + "(" +
                   std::string(pyb::repr(ReadView(b))) + ")";
          });
  m.def("buffer_from_bytes", [](pyb::bytes data) {
        std::string s = data;
        return WrapBuffer(NXDataObjectFromBytes(s));
      }, "A buffer read back from its serialised form (Buffer.to_bytes)");
  RegisterKind<TBufKind::Real>(m, "64-bit floats (dtype float64)");
  RegisterKind<TBufKind::Complex>(m, "Complex numbers (dtype complex128)");
  RegisterKind<TBufKind::Integer>(m, "Signed 32-bit integers (dtype int32)");
  RegisterKind<TBufKind::Unsigned>(m, "Unsigned 32-bit integers (dtype uint32)");
  RegisterKind<TBufKind::Block>(m, "Raw bytes (dtype uint8)");
  RegisterKind<TBufKind::Boolean>(m, "Booleans packed eight to a byte; its view is the packed bytes (uint8)");
  RegisterKind<TBufKind::Matrix>(m, "A matrix of 64-bit floats, row by row (a 2-D view)");
}

}  // namespace nx::py

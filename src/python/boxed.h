#pragma once

#include <Python.h>

#include <memory>
#include <utility>

#include "python/borrow.h"
#include "python/errors.h"
#include "python/ref.h"

namespace vardelic::python {

// The layout of every object of the module: the object header, the borrow flag, and the C++
// value it embeds. The value is constructed after allocation and destroyed before the memory
// goes back, so any C++ type can live in a Python object.
template <typename T>
struct Boxed {
  PyObject_HEAD BorrowFlag borrow;
  T value;
};

template <typename T>
Boxed<T>* Unbox(PyObject* object) {
  return reinterpret_cast<Boxed<T>*>(object);
}

template <typename T>
T& ValueOf(PyObject* object) {
  return Unbox<T>(object)->value;
}

// A new object of `type` holding T(args...). If the value's constructor throws, the memory is
// freed without destroying a value that never existed.
template <typename T, typename... Args>
Ref NewBoxed(PyTypeObject* type, Args&&... args) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* object = alloc(type, 0);
  if (object == nullptr) throw PythonError{};
  Boxed<T>* boxed = Unbox<T>(object);
  try {
    std::construct_at(&boxed->borrow);
    std::construct_at(&boxed->value, std::forward<Args>(args)...);
  } catch (...) {
    auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(object);
    Py_DECREF(type);  // taken by tp_alloc for heap types
    throw;
  }
  return Ref::Steal(object);
}

template <typename T>
void DeallocBoxed(PyObject* object) {
  PyTypeObject* type = Py_TYPE(object);
  // The collector must not visit an object whose value is being destroyed.
  if (PyType_HasFeature(type, Py_TPFLAGS_HAVE_GC)) PyObject_GC_UnTrack(object);
  std::destroy_at(&Unbox<T>(object)->value);
  auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free(object);
  Py_DECREF(type);
}

// Creates a heap type bound to the top-level module, so that its slots can find the module
// state. The class keeps no docstring: tp_doc only carries the constructor's text signature
// ("Name(a, b)\n--\n\n") for inspect.signature, and __doc__ is set to None. Returns a new
// reference, which the caller stores in the module state (released by its m_clear).
PyTypeObject* NewType(PyObject* module, PyType_Spec* type_spec);

// Stores a class attribute directly in the type's dictionary (the types are immutable).
void SetClassAttribute(PyTypeObject* type, const char* name, PyObject* value);

// Appends `name` to the module's __all__ (created on first use), then sets the attribute.
void AddToAll(PyObject* module, const char* name, PyObject* value);
// The same for a class of the module, under its name.
void AddToAll(PyObject* module, PyTypeObject* type);

// The type spec of a class whose objects box a T: immutable, and not subclassable. A T that
// holds Python objects adds Py_TPFLAGS_HAVE_GC to `flags` (and traverse and clear slots).
template <typename T>
constexpr PyType_Spec BoxedSpec(const char* name, PyType_Slot* slots, unsigned long flags = 0) {
  return {.name = name,
          .basicsize = sizeof(Boxed<T>),
          .itemsize = 0,
          .flags = static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | flags),
          .slots = slots};
}

// tp_new of the classes that Python code cannot construct.
PyObject* NoConstructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

}  // namespace vardelic::python

#pragma once

// The pieces the class files build their slot and method tables from, so that each file holds
// only its tables and its own logic. Every slot and method here runs its body under Guard.

#include <Python.h>

#include <string_view>

#include "python/args.h"
#include "python/borrow.h"
#include "python/boxed.h"
#include "python/errors.h"
#include "python/module_state.h"
#include "python/ref.h"

namespace vardelic::python {

// Values -----------------------------------------------------------------------------------

// A str holding the UTF-8 `text`.
inline Ref NewStr(std::string_view text) {
  return Check(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// A list of make(item) for each item of `items`, in order; `make` returns a new Ref.
template <typename Items, typename Make>
Ref NewList(const Items& items, Make&& make) {
  Ref list = Check(PyList_New(static_cast<Py_ssize_t>(items.size())));
  Py_ssize_t index = 0;
  for (const auto& item : items) PyList_SET_ITEM(list.get(), index++, make(item).release());
  return list;
}

// Slots ------------------------------------------------------------------------------------

// tp_str or tp_repr: kText(value) of the boxed T (anything that converts to a string_view),
// read under a shared borrow.
template <typename T, auto kText>
PyObject* TextSlot(PyObject* self) {
  return Guard(Py_TYPE(self), [&] {
    SharedBorrow borrow(Unbox<T>(self)->borrow);
    return NewStr(kText(ValueOf<T>(self))).release();
  });
}

// nb_int of a class boxing an enumeration or an int.
template <typename T>
PyObject* IntSlot(PyObject* self) {
  return PyLong_FromLong(static_cast<long>(ValueOf<T>(self)));
}

// tp_richcompare of the enumeration-like classes: == against an object of the same class or
// an int is true for an equal number; anything else cannot be converted and raises TypeError
// naming the class. != is the negation of ==: the members handed out are new objects, so the
// interpreter's identity fallback would call a member unequal to itself. Ordering is left to
// the interpreter (NotImplemented).
template <typename T>
PyObject* CompareAsInt(PyObject* self, PyObject* other, int op) {
  if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
  const auto number = static_cast<long long>(ValueOf<T>(self));
  bool equal;
  if (Py_TYPE(other) == Py_TYPE(self)) {
    equal = static_cast<long long>(ValueOf<T>(other)) == number;
  } else if (PyLong_Check(other)) {
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(other, &overflow);
    if (value == -1 && PyErr_Occurred()) return nullptr;
    equal = overflow == 0 && value == number;
  } else {
    // The module's type names are bare, so tp_name is the class name.
    return Guard(Py_TYPE(self), [&]() -> PyObject* {
      Raise(PyExc_TypeError, CannotConvert(other, Py_TYPE(self)->tp_name));
    });
  }
  return PyBool_FromLong(equal == (op == Py_EQ));
}

// What CompareValues does with <, <=, > and >=.
enum class Ordering { kNotImplemented, kRefused };

// tp_richcompare of the value classes: == and != compare the boxed values of two objects of
// the same class; any other object gets NotImplemented. Ordering two objects of the class
// gets NotImplemented or, where refused, the TypeError "Operation not supported".
template <typename T, Ordering kOrdering>
PyObject* CompareValues(PyObject* self, PyObject* other, int op) {
  if (Py_TYPE(other) != Py_TYPE(self)) Py_RETURN_NOTIMPLEMENTED;
  if (op != Py_EQ && op != Py_NE) {
    if constexpr (kOrdering == Ordering::kNotImplemented) Py_RETURN_NOTIMPLEMENTED;
    PyErr_SetString(PyExc_TypeError, "Operation not supported");
    return nullptr;
  }
  return PyBool_FromLong((ValueOf<T>(self) == ValueOf<T>(other)) == (op == Py_EQ));
}

// Methods ----------------------------------------------------------------------------------

// Every method takes its defining class (to reach the module state) and fast-call arguments.
using Method = PyObject* (*)(PyObject* self, PyTypeObject* defining_class, PyObject* const* args,
                             Py_ssize_t nargs, PyObject* kwnames);

// The table entry of a Method; `doc` starts with its text signature "name($self, ...)\n--\n\n".
inline PyMethodDef MethodDef(const char* name, Method function, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),
          METH_METHOD | METH_FASTCALL | METH_KEYWORDS, doc};
}

// The body of a method `name` without parameters: read(module state, value) on the boxed T of
// `self`, held under a Borrow (SharedBorrow or ExclusiveBorrow) for the call.
template <typename T, typename Borrow = SharedBorrow, typename F>
PyObject* NoArgsMethod(PyObject* self, PyTypeObject* defining_class, const char* name,
                       Py_ssize_t nargs, PyObject* kwnames, F&& read) {
  return Guard(defining_class, [&]() -> PyObject* {
    ParseNoArgs(name, nargs, kwnames);
    Borrow borrow(Unbox<T>(self)->borrow);
    return read(StateOfClass(defining_class), ValueOf<T>(self));
  });
}

}  // namespace vardelic::python

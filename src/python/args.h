#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>

#include "python/errors.h"

namespace vardelic::python {

// The parameters of one constructor or method: every one positional-or-keyword, the first
// `required` of them required.
struct Signature {
  const char* function;
  std::initializer_list<const char*> names;
  std::size_t required;
};

// Matches the arguments of a METH_FASTCALL | METH_KEYWORDS call to `signature`, writing a
// borrowed reference per parameter to `out` (nullptr for an optional one that is absent).
// A missing, surplus, unknown or doubled argument raises TypeError (throws PythonError).
void ParseArgs(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
               PyObject* kwnames, PyObject** out);
// The same for the tuple and dictionary of a tp_new call.
void ParseArgs(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** out);
// Refuses any argument of a method without parameters.
void ParseNoArgs(const char* function, Py_ssize_t nargs, PyObject* kwnames);
void ParseNoArgs(const char* function, PyObject* args, PyObject* kwargs);

// Called while a conversion's exception is set: a TypeError is replaced by one whose message
// is "argument '<name>': " and the original message; any other exception stays as it is.
[[noreturn]] void FailArgument(const char* name);
// Raises the TypeError "argument '<name>': '<type>' object cannot be converted to '<target>'".
[[noreturn]] void FailConversion(PyObject* object, const char* name, const char* target);

// A non-negative int (or an object with __index__) up to `max`; OverflowError otherwise.
std::uint64_t ToUnsigned(PyObject* object, const char* name, std::uint64_t max);

template <typename T>
T ToUnsigned(PyObject* object, const char* name) {
  return static_cast<T>(ToUnsigned(object, name, std::numeric_limits<T>::max()));
}

// None (or an absent argument) gives nullopt.
template <typename T>
std::optional<T> ToOptionalUnsigned(PyObject* object, const char* name) {
  if (object == nullptr || object == Py_None) return std::nullopt;
  return ToUnsigned<T>(object, name);
}

// Only True and False.
bool ToBool(PyObject* object, const char* name);

}  // namespace vardelic::python

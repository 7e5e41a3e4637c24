#pragma once

#include <Python.h>

#include <string>

#include "python/ref.h"

namespace vardelic::python {

// Thrown by binding code once a Python exception is set, so that C++ helpers can fail through
// several frames; the entry point's guard turns it back into a nullptr or -1 return.
struct PythonError {};

[[noreturn]] void Raise(PyObject* exception_class, const char* message);
[[noreturn]] void Raise(PyObject* exception_class, const std::string& message);

// Returns the owned result of an API call, or throws PythonError when it failed.
inline Ref Check(PyObject* result) {
  if (result == nullptr) throw PythonError{};
  return Ref::Steal(result);
}
inline void CheckStatus(int status) {
  if (status < 0) throw PythonError{};
}

// "'int' object cannot be converted to 'Card'".
std::string CannotConvert(PyObject* object, const char* target);

// Maps the C++ exception in flight to a Python exception: PythonError keeps the one already
// set, util::Failure and other std::exceptions become the module's EngineError (reached
// through `any_type`, any type of this module), std::bad_alloc becomes MemoryError.
void SetFromCurrentException(PyTypeObject* any_type) noexcept;

// Every extern "C" entry runs its body through one of these, so no C++ exception crosses
// into the interpreter.
template <typename F>
PyObject* Guard(PyTypeObject* any_type, F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    SetFromCurrentException(any_type);
    return nullptr;
  }
}

template <typename F>
int GuardStatus(PyTypeObject* any_type, F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    SetFromCurrentException(any_type);
    return -1;
  }
}

}  // namespace vardelic::python

#include "python/args.h"

#include <string>

namespace vardelic::python {
namespace {

[[noreturn]] void RaiseType(const std::string& message) { Raise(PyExc_TypeError, message); }

// Places one keyword argument; `index` is the parameter it names.
void PlaceKeyword(const Signature& signature, PyObject* key, PyObject* value, PyObject** out,
                  Py_ssize_t nargs) {
  if (!PyUnicode_Check(key))
    RaiseType(std::string(signature.function) + "() keywords must be strings");
  std::size_t index = 0;
  for (const char* name : signature.names) {
    if (PyUnicode_CompareWithASCIIString(key, name) == 0) {
      if (out[index] != nullptr) {
        std::string message =
            std::string("argument for ") + signature.function + "() given by name ('" + name + "')";
        if (static_cast<Py_ssize_t>(index) < nargs) {
          message += " and position (" + std::to_string(index + 1) + ")";
        } else {
          message += " twice";
        }
        RaiseType(message);
      }
      out[index] = value;
      return;
    }
    ++index;
  }
  // %U, not the UTF-8 text: a keyword may hold a lone surrogate, which has no UTF-8 form.
  PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", signature.function,
               key);
  throw PythonError{};
}

void PlacePositional(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                     PyObject** out) {
  const auto count = static_cast<Py_ssize_t>(signature.names.size());
  for (Py_ssize_t i = 0; i < count; ++i) out[i] = nullptr;
  if (nargs > count) {
    RaiseType(std::string(signature.function) + "() takes at most " + std::to_string(count) +
              " argument" + (count == 1 ? "" : "s") + " (" + std::to_string(nargs) + " given)");
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
}

void CheckRequired(const Signature& signature, PyObject** out) {
  std::size_t index = 0;
  for (const char* name : signature.names) {
    if (index < signature.required && out[index] == nullptr) {
      RaiseType(std::string(signature.function) + "() missing required argument '" + name +
                "' (pos " + std::to_string(index + 1) + ")");
    }
    ++index;
  }
}

}  // namespace

void ParseArgs(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
               PyObject* kwnames, PyObject** out) {
  PlacePositional(signature, args, nargs, out);
  if (kwnames != nullptr) {
    const Py_ssize_t keywords = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < keywords; ++i) {
      PlaceKeyword(signature, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], out, nargs);
    }
  }
  CheckRequired(signature, out);
}

void ParseArgs(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** out) {
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  PlacePositional(signature, &PyTuple_GET_ITEM(args, 0), nargs, out);
  if (kwargs != nullptr) {
    PyObject* key;
    PyObject* value;
    Py_ssize_t position = 0;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      PlaceKeyword(signature, key, value, out, nargs);
    }
  }
  CheckRequired(signature, out);
}

void ParseNoArgs(const char* function, Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs != 0 || (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) != 0)) {
    RaiseType(std::string(function) + "() takes no arguments");
  }
}

void ParseNoArgs(const char* function, PyObject* args, PyObject* kwargs) {
  if (PyTuple_GET_SIZE(args) != 0 || (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0)) {
    RaiseType(std::string(function) + "() takes no arguments");
  }
}

void FailArgument(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw PythonError{};
  PyObject* type;
  PyObject* value;
  PyObject* traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  Ref owned_type = Ref::Steal(type), owned_value = Ref::Steal(value),
      owned_traceback = Ref::Steal(traceback);
  // %S, not the UTF-8 text: the message of a user's exception may hold a lone surrogate.
  PyErr_Format(PyExc_TypeError, "argument '%s': %S", name, owned_value.get());
  throw PythonError{};
}

void FailConversion(PyObject* object, const char* name, const char* target) {
  RaiseType(std::string("argument '") + name + "': " + CannotConvert(object, target));
}

std::uint64_t ToUnsigned(PyObject* object, const char* name, std::uint64_t max) {
  Ref index = Ref::Steal(PyNumber_Index(object));
  if (!index) FailArgument(name);
  unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) FailArgument(name);
  // Out of the field's range is the same OverflowError the interpreter raises for the 64-bit
  // range, and like every conversion error other than TypeError it carries no argument prefix.
  if (value > max) Raise(PyExc_OverflowError, "int too big to convert");
  return value;
}

bool ToBool(PyObject* object, const char* name) {
  if (object == Py_True) return true;
  if (object == Py_False) return false;
  FailConversion(object, name, "bool");
}

}  // namespace vardelic::python

#include "python/errors.h"

#include <exception>
#include <new>

#include "python/module_state.h"
#include "util/failure.h"

namespace vardelic::python {
namespace {

void SetEngineError(PyTypeObject* any_type, const char* message) {
  PyObject* engine_error = PyExc_RuntimeError;
  if (any_type != nullptr) {
    if (PyObject* module = PyType_GetModuleByDef(any_type, &kModuleDef)) {
      engine_error = StateOf(module).engine_error;
    } else {
      PyErr_Clear();
    }
  }
  PyErr_SetString(engine_error, message);
}

}  // namespace

void Raise(PyObject* exception_class, const char* message) {
  PyErr_SetString(exception_class, message);
  throw PythonError{};
}

void Raise(PyObject* exception_class, const std::string& message) {
  Raise(exception_class, message.c_str());
}

std::string CannotConvert(PyObject* object, const char* target) {
  return std::string("'") + Py_TYPE(object)->tp_name + "' object cannot be converted to '" +
         target + "'";
}

void SetFromCurrentException(PyTypeObject* any_type) noexcept {
  try {
    throw;
  } catch (const PythonError&) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_SystemError, "error return without exception set");
    }
  } catch (const util::Failure& failure) {
    SetEngineError(any_type, failure.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    SetEngineError(any_type, error.what());
  } catch (...) {
    SetEngineError(any_type, "unknown internal failure");
  }
}

}  // namespace vardelic::python

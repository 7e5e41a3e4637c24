#include "python/boxed.h"

#include <vector>

#include "python/module_state.h"

namespace vardelic::python {
namespace {

// A placeholder "__module__" entry present while the type is created: without one, a bare
// type name makes CPython warn that the type has no __module__. NewType replaces it.
PyObject* NoModule(PyObject*, void*) { return PyUnicode_FromString("builtins"); }
PyGetSetDef kModulePlaceholder[] = {
    {"__module__", NoModule, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject* NewType(PyObject* module, PyType_Spec* type_spec) {
  std::vector<PyType_Slot> slots;
  for (PyType_Slot* slot = type_spec->slots; slot->slot != 0; ++slot) slots.push_back(*slot);
  slots.push_back({Py_tp_getset, kModulePlaceholder});
  slots.push_back({0, nullptr});
  PyType_Spec with_placeholder = *type_spec;
  with_placeholder.slots = slots.data();
  Ref type = Check(PyType_FromModuleAndSpec(module, &with_placeholder, nullptr));
  auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
  CheckStatus(PyDict_SetItemString(type_object->tp_dict, "__doc__", Py_None));
  // The type name stays bare; "builtins" is the interpreter's marker for a type without a
  // module (repr shows just the name) and keeps __module__ readable.
  Ref builtins = Check(PyUnicode_InternFromString("builtins"));
  CheckStatus(PyDict_SetItemString(type_object->tp_dict, "__module__", builtins.get()));
  PyType_Modified(type_object);
  return reinterpret_cast<PyTypeObject*>(type.release());
}

void SetClassAttribute(PyTypeObject* type, const char* name, PyObject* value) {
  CheckStatus(PyDict_SetItemString(type->tp_dict, name, value));
  PyType_Modified(type);
}

void AddToAll(PyObject* module, const char* name, PyObject* value) {
  Ref all = Ref::Steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError{};
    PyErr_Clear();
    all = Check(PyList_New(0));
    CheckStatus(PyModule_AddObjectRef(module, "__all__", all.get()));
  }
  Ref text = Check(PyUnicode_FromString(name));
  CheckStatus(PyList_Append(all.get(), text.get()));
  CheckStatus(PyModule_AddObjectRef(module, name, value));
}

void AddToAll(PyObject* module, PyTypeObject* type) {
  // The module's type names are bare, so tp_name is the class name.
  AddToAll(module, type->tp_name, reinterpret_cast<PyObject*>(type));
}

PyObject* NoConstructor(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "No constructor defined");
  return nullptr;
}

ModuleState& StateOfType(PyTypeObject* type) {
  PyObject* module = PyType_GetModuleByDef(type, &kModuleDef);
  if (module == nullptr) throw PythonError{};
  return StateOf(module);
}

}  // namespace vardelic::python

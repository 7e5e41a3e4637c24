// The extension module: its definition, state and initialisation.
//
// Why `vardelic` is written against the CPython C API while the distribution's other modules
// use nanobind: its surface is fixed to the letter (the text of every message, the signatures
// and keyword names, enum-like classes such as PyGameResult with their reprs and numbers,
// submodules reachable only as attributes, classes outside `__all__`), and a binding library
// would write its own texts, signatures and enum types. The other modules bind with nanobind
// (src/rl/python, src/agents/python) and reach this module's states only through the capsule
// (python/capsule).
#include <Python.h>

#include "python/boxed.h"
#include "python/errors.h"
#include "python/module_state.h"
#include "python/objects.h"

namespace vardelic::python {
namespace {

// Creates a plain submodule (reachable only as an attribute, never entered into
// sys.modules), fills it, and registers it in the top-level module.
template <typename Fill>
void AddSubmodule(PyObject* module, const char* name, Fill&& fill) {
  Ref submodule = Check(PyModule_New(name));
  fill(submodule.get());
  AddToAll(module, name, submodule.get());
}

int Exec(PyObject* module) {
  return GuardStatus(nullptr, [&] {
    ModuleState& state = StateOf(module);
    // Derived directly from BaseException, so that `except Exception` does not swallow a
    // failure of the engine.
    state.engine_error =
        Check(PyErr_NewException("vardelic.EngineError", PyExc_BaseException, nullptr)).release();
    state.play_name = Check(PyUnicode_InternFromString("play")).release();
    state.state_kwnames = Check(Py_BuildValue("(s)", "state")).release();

    AddSubmodule(module, "card", [&](PyObject* m) { AddCardTypes(module, m, state); });
    AddSubmodule(module, "actions", [&](PyObject* m) { AddActionTypes(module, m, state); });
    AddStateTypes(module, state);
    AddSubmodule(module, "players", [&](PyObject* m) { AddPlayerTypes(module, m, state); });
    AddGameType(module, state);
    // Reachable as vardelic.EngineError, but not part of the public name list.
    CheckStatus(PyModule_AddObjectRef(module, "EngineError", state.engine_error));
    // For the other extension modules of the distribution; not part of the public name list.
    AddCapsuleApi(module);
    return 0;
  });
}

int Traverse(PyObject* module, visitproc visit, void* arg) {
  ModuleState* state = static_cast<ModuleState*>(PyModule_GetState(module));
  if (state == nullptr) return 0;
  int result = 0;
  state->ForEachRef([&](PyObject*& ref) {
    if (result == 0 && ref != nullptr) result = visit(ref, arg);
  });
  return result;
}

int Clear(PyObject* module) {
  ModuleState* state = static_cast<ModuleState*>(PyModule_GetState(module));
  if (state != nullptr) state->ForEachRef([](PyObject*& ref) { Py_CLEAR(ref); });
  return 0;
}

void Free(void* module) { Clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(Exec)},
    {0, nullptr},
};

}  // namespace

PyModuleDef kModuleDef = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "vardelic",
    .m_doc = "Natively implemented rules engine and computer players for a cooperative card game.",
    .m_size = sizeof(ModuleState),
    .m_methods = nullptr,
    .m_slots = kSlots,
    .m_traverse = Traverse,
    .m_clear = Clear,
    .m_free = Free,
};

}  // namespace vardelic::python

extern "C" PyMODINIT_FUNC PyInit_vardelic() {
  return PyModuleDef_Init(&vardelic::python::kModuleDef);
}

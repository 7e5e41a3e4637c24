#pragma once

// The capsule API: what `vardelic` shares with the other extension modules of this
// distribution, in the interpreter's standard way: a capsule named "vardelic._C_API" (the
// name CPython's own modules use for theirs), stored as the module's attribute `_C_API`
// (outside `__all__`). "C API" alone means CPython's; this is ours. The modules are built from one
// checkout by one compiler, so game values cross by pointer; `ImportCapsuleApi` still refuses a
// capsule whose version or state size differs, rather than reading a foreign layout.
//
// Every function needs the interpreter lock. Failures return -1 or nullptr with a Python
// exception set; no C++ exception crosses the capsule.

#include <Python.h>

#include "game/action.h"
#include "game/state_enum.h"

namespace vardelic::python {

inline constexpr const char* kCapsuleName = "vardelic._C_API";
inline constexpr unsigned kCapsuleApiVersion = 1;

struct CapsuleApi {
  unsigned version;
  unsigned state_enum_size;  // sizeof(game::StateEnum) where the capsule was built
  // Copies the game state held by a PyState into *out, under a shared borrow of the object.
  // TypeError for any other object, RuntimeError while the object is borrowed exclusively.
  int (*copy_state)(PyObject* object, game::StateEnum* out);
  // A new object of the `vardelic.actions` class of the action's variant: the object the
  // module itself hands out for it. `module` is the imported `vardelic` module.
  PyObject* (*new_action)(PyObject* module, const game::Action* action);
  // A new PyState holding a copy of *state.
  PyObject* (*new_state)(PyObject* module, const game::StateEnum* state);
};

// Imports `vardelic` and its capsule: the API, or nullptr with ImportError set.
inline const CapsuleApi* ImportCapsuleApi() {
  const auto* api = static_cast<const CapsuleApi*>(PyCapsule_Import(kCapsuleName, 0));
  if (api != nullptr &&
      (api->version != kCapsuleApiVersion || api->state_enum_size != sizeof(game::StateEnum))) {
    PyErr_SetString(PyExc_ImportError,
                    "vardelic._C_API comes from another build of vardelic; reinstall the package");
    return nullptr;
  }
  return api;
}

}  // namespace vardelic::python

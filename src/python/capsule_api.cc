// The capsule behind python/capsule/capsule_api.h.
#include "python/capsule/capsule_api.h"

#include <variant>

#include "python/borrow.h"
#include "python/boxed.h"
#include "python/objects.h"

namespace vardelic::python {
namespace {

// The state of the vardelic module that `module` is, or a TypeError.
ModuleState& StateOfModule(PyObject* module) {
  if (!PyModule_Check(module) || PyModule_GetDef(module) != &kModuleDef) {
    Raise(PyExc_TypeError, "expected the vardelic module");
  }
  return StateOf(module);
}

int CopyState(PyObject* object, game::StateEnum* out) {
  return GuardStatus(nullptr, [&] {
    PyObject* module = PyType_GetModuleByDef(Py_TYPE(object), &kModuleDef);
    if (module == nullptr) {
      PyErr_Clear();
      Raise(PyExc_TypeError, "argument 'state': " + CannotConvert(object, "PyState"));
    }
    const game::StateEnum& state = ToStateEnum(StateOf(module), object, "state");
    SharedBorrow borrow(Unbox<game::StateEnum>(object)->borrow);
    *out = state;
    return 0;
  });
}

PyObject* NewActionObject(PyObject* module, const game::Action* action) {
  return Guard(nullptr, [&] { return NewAction(StateOfModule(module), *action).release(); });
}

PyObject* NewStateObject(PyObject* module, const game::StateEnum* state) {
  return Guard(nullptr, [&] { return NewPyState(StateOfModule(module), *state).release(); });
}

constexpr CapsuleApi kCapsuleApi = {
    .version = kCapsuleApiVersion,
    .state_enum_size = sizeof(game::StateEnum),
    .copy_state = CopyState,
    .new_action = NewActionObject,
    .new_state = NewStateObject,
};

}  // namespace

void AddCapsuleApi(PyObject* module) {
  Ref capsule = Check(PyCapsule_New(const_cast<CapsuleApi*>(&kCapsuleApi), kCapsuleName, nullptr));
  CheckStatus(PyModule_AddObjectRef(module, "_C_API", capsule.get()));
}

}  // namespace vardelic::python

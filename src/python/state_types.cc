// PyState, the state view handed to Python players, and GameResult. Both are registered in
// no module: Python code meets them only as values.
#include <string>
#include <variant>

#include "python/args.h"
#include "python/boxed.h"
#include "python/objects.h"
#include "python/slots.h"

namespace vardelic::python {
namespace {

using game::StateEnum;

// Runs `read` on the state of the PyState `self` under a shared borrow; every method of the
// class takes no parameters.
template <typename F>
PyObject* Read(PyObject* self, PyTypeObject* cls, const char* name, Py_ssize_t nargs,
               PyObject* kwnames, F&& read) {
  return NoArgsMethod<StateEnum>(
      self, cls, name, nargs, kwnames, [&](ModuleState& module, const StateEnum& value) {
        return std::visit([&](const auto& state) { return read(module, state); }, value);
      });
}

PyObject* ActionSpace(PyObject* self, PyTypeObject* cls, PyObject* const*, Py_ssize_t nargs,
                      PyObject* kwnames) {
  return Read(self, cls, "action_space", nargs, kwnames, [](ModuleState& m, const auto& state) {
    return NewActionList(m, state.get_action_space()).release();
  });
}

PyObject* HasTurn(PyObject* self, PyTypeObject* cls, PyObject* const*, Py_ssize_t nargs,
                  PyObject* kwnames) {
  return Read(self, cls, "has_turn", nargs, kwnames, [](ModuleState& m, const auto& state) {
    return NewPlayerId(m, state.has_turn).release();
  });
}

PyObject* CurrentHand(PyObject* self, PyTypeObject* cls, PyObject* const*, Py_ssize_t nargs,
                      PyObject* kwnames) {
  return Read(self, cls, "current_hand", nargs, kwnames, [](ModuleState& m, const auto& state) {
    return NewList(state.current_player().hand, [&](game::Card card) { return NewCard(m, card); })
        .release();
  });
}

PyObject* Reward(PyObject* self, PyTypeObject* cls, PyObject* const*, Py_ssize_t nargs,
                 PyObject* kwnames) {
  return Read(self, cls, "reward", nargs, kwnames, [](ModuleState&, const auto& state) {
    return PyLong_FromUnsignedLong(state.reward());
  });
}

PyObject* CurrentEnemy(PyObject* self, PyTypeObject* cls, PyObject* const*, Py_ssize_t nargs,
                       PyObject* kwnames) {
  return Read(self, cls, "current_enemy", nargs, kwnames, [](ModuleState& m, const auto& state) {
    const game::Enemy* enemy = state.current_enemy();
    return enemy == nullptr ? Py_NewRef(Py_None) : NewEnemy(m, *enemy).release();
  });
}

std::string StateText(const StateEnum& value) {
  return std::visit([](const auto& state) { return state.display_text(); }, value);
}

PyMethodDef kStateMethods[] = {
    MethodDef("action_space", ActionSpace, "action_space($self)\n--\n\n"),
    MethodDef("has_turn", HasTurn, "has_turn($self)\n--\n\n"),
    MethodDef("current_hand", CurrentHand, "current_hand($self)\n--\n\n"),
    MethodDef("reward", Reward, "reward($self)\n--\n\n"),
    MethodDef("current_enemy", CurrentEnemy, "current_enemy($self)\n--\n\n"),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kStateSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(NoConstructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<StateEnum>)},
    {Py_tp_str, reinterpret_cast<void*>(TextSlot<StateEnum, StateText>)},
    {Py_tp_methods, kStateMethods},
    {0, nullptr},
};

PyType_Spec kStateSpec = BoxedSpec<StateEnum>("PyState", kStateSlots);

// GameResult: 0 for Won, 1 for Lost; the score of a loss is not kept.

const char* ResultText(int result) {
  return result == 0 ? "PyGameResult.Won" : "PyGameResult.Lost";
}

PyType_Slot kResultSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(NoConstructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<int>)},
    {Py_tp_repr, reinterpret_cast<void*>(TextSlot<int, ResultText>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(CompareAsInt<int>)},
    {Py_nb_int, reinterpret_cast<void*>(IntSlot<int>)},
    {0, nullptr},
};

PyType_Spec kResultSpec = BoxedSpec<int>("GameResult", kResultSlots);

}  // namespace

Ref NewPyState(ModuleState& state, const StateEnum& value) {
  return NewBoxed<StateEnum>(state.py_state, value);
}

Ref NewGameResult(ModuleState& state, const game::GameResult& result) {
  return NewBoxed<int>(state.game_result, result.won() ? 0 : 1);
}

const StateEnum& ToStateEnum(ModuleState& state, PyObject* object, const char* name) {
  if (Py_TYPE(object) != state.py_state) FailConversion(object, name, "PyState");
  return ValueOf<StateEnum>(object);
}

void AddStateTypes(PyObject* module, ModuleState& state) {
  state.py_state = NewType(module, &kStateSpec);
  state.game_result = NewType(module, &kResultSpec);
  const char* names[] = {"Won", "Lost"};
  for (int i = 0; i < 2; ++i) {
    state.results[i] = NewBoxed<int>(state.game_result, i).release();
    SetClassAttribute(state.game_result, names[i], state.results[i]);
  }
}

}  // namespace vardelic::python

// PyState, the state view handed to Python players, and GameResult. Both are registered in
// no module: Python code meets them only as values.
#include <string>
#include <variant>

#include "python/args.h"
#include "python/boxed.h"
#include "python/objects.h"

namespace vardelic::python {
namespace {

using game::StateEnum;

ModuleState& StateOfClass(PyTypeObject* defining_class) {
  return *static_cast<ModuleState*>(PyType_GetModuleState(defining_class));
}

// Runs `read` on the state of the PyState `self` under a shared borrow; every method of the
// class takes no parameters.
template <typename F>
PyObject* Read(PyObject* self, PyTypeObject* cls, const char* name, Py_ssize_t nargs,
               PyObject* kwnames, F&& read) {
  return Guard(cls, [&]() -> PyObject* {
    ParseNoArgs(name, nargs, kwnames);
    SharedBorrow borrow(Unbox<StateEnum>(self)->borrow);
    return std::visit([&](const auto& state) { return read(StateOfClass(cls), state); },
                      ValueOf<StateEnum>(self));
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
    const game::Hand& hand = state.current_player().hand;
    Ref list = Check(PyList_New(static_cast<Py_ssize_t>(hand.size())));
    for (std::size_t i = 0; i < hand.size(); ++i) {
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), NewCard(m, hand[i]).release());
    }
    return list.release();
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

PyObject* StateStr(PyObject* self) {
  return Guard(Py_TYPE(self), [&] {
    SharedBorrow borrow(Unbox<StateEnum>(self)->borrow);
    std::string text =
        std::visit([](const auto& state) { return state.display_text(); }, ValueOf<StateEnum>(self));
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

constexpr int kMethodFlags = METH_METHOD | METH_FASTCALL | METH_KEYWORDS;

#define VARDELIC_METHOD(name, function) \
  {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)), kMethodFlags, name "($self)\n--\n\n"}

PyMethodDef kStateMethods[] = {
    VARDELIC_METHOD("action_space", ActionSpace),
    VARDELIC_METHOD("has_turn", HasTurn),
    VARDELIC_METHOD("current_hand", CurrentHand),
    VARDELIC_METHOD("reward", Reward),
    VARDELIC_METHOD("current_enemy", CurrentEnemy),
    {nullptr, nullptr, 0, nullptr},
};

#undef VARDELIC_METHOD

PyType_Slot kStateSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(NoConstructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<StateEnum>)},
    {Py_tp_str, reinterpret_cast<void*>(StateStr)},
    {Py_tp_methods, kStateMethods},
    {0, nullptr},
};

PyType_Spec kStateSpec = BoxedSpec<StateEnum>("PyState", kStateSlots);

// GameResult: 0 for Won, 1 for Lost; the score of a loss is not kept.

PyObject* ResultRepr(PyObject* self) {
  return PyUnicode_FromString(ValueOf<int>(self) == 0 ? "PyGameResult.Won" : "PyGameResult.Lost");
}

PyObject* ResultInt(PyObject* self) { return PyLong_FromLong(ValueOf<int>(self)); }

// == with an int or a GameResult; anything else cannot be converted and raises TypeError.
// != is the negation of ==: the results handed out are new objects, so the interpreter's
// identity fallback would call a result unequal to the very member it is.
PyObject* ResultCompare(PyObject* self, PyObject* other, int op) {
  if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
  const int value = ValueOf<int>(self);
  bool equal;
  if (Py_TYPE(other) == Py_TYPE(self)) {
    equal = ValueOf<int>(other) == value;
  } else if (PyLong_Check(other)) {
    int overflow = 0;
    long long number = PyLong_AsLongLongAndOverflow(other, &overflow);
    if (number == -1 && PyErr_Occurred()) return nullptr;
    equal = overflow == 0 && number == value;
  } else {
    return Guard(Py_TYPE(self), [&]() -> PyObject* {
      Raise(PyExc_TypeError, CannotConvert(other, "GameResult"));
    });
  }
  return PyBool_FromLong(equal == (op == Py_EQ));
}

PyType_Slot kResultSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(NoConstructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<int>)},
    {Py_tp_repr, reinterpret_cast<void*>(ResultRepr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(ResultCompare)},
    {Py_nb_int, reinterpret_cast<void*>(ResultInt)},
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
  state.py_state = reinterpret_cast<PyTypeObject*>(NewType(module, &kStateSpec).release());
  state.game_result = reinterpret_cast<PyTypeObject*>(NewType(module, &kResultSpec).release());
  const char* names[] = {"Won", "Lost"};
  for (int i = 0; i < 2; ++i) {
    state.results[i] = NewBoxed<int>(state.game_result, i).release();
    SetClassAttribute(state.game_result, names[i], state.results[i]);
  }
}

}  // namespace vardelic::python

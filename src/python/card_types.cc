// The card classes: Card, CardSuit, CardValue, and the unregistered Enemy and PlayerId.
#include <string>

#include "python/args.h"
#include "python/boxed.h"
#include "python/objects.h"
#include "util/debug_text.h"

namespace vardelic::python {
namespace {

using game::Card;
using game::CardSuit;
using game::CardValue;

PyTypeObject* TypeOf(PyObject* object) { return Py_TYPE(object); }

// == against a member or an int: true for the same variant or an equal number. Anything
// else cannot be converted and raises TypeError; != is the negation of ==.
template <typename Enum>
PyObject* CompareEnum(PyObject* self, PyObject* other, int op, const char* class_name) {
  if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
  const auto number = static_cast<long long>(ValueOf<Enum>(self));
  bool equal;
  if (Py_TYPE(other) == Py_TYPE(self)) {
    equal = static_cast<long long>(ValueOf<Enum>(other)) == number;
  } else if (PyLong_Check(other)) {
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(other, &overflow);
    if (value == -1 && PyErr_Occurred()) return nullptr;
    equal = overflow == 0 && value == number;
  } else {
    return Guard(Py_TYPE(self), [&]() -> PyObject* {
      Raise(PyExc_TypeError, CannotConvert(other, class_name));
    });
  }
  return PyBool_FromLong(equal == (op == Py_EQ));
}

template <typename Enum>
PyObject* EnumInt(PyObject* self) {
  return PyLong_FromLong(static_cast<long>(ValueOf<Enum>(self)));
}

// CardSuit --------------------------------------------------------------------------------

PyObject* SuitRepr(PyObject* self) {
  return Guard(TypeOf(self), [&] {
    std::string text = "CardSuit." + std::string(game::suit_name(ValueOf<CardSuit>(self)));
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

PyObject* SuitCompare(PyObject* self, PyObject* other, int op) {
  return CompareEnum<CardSuit>(self, other, op, "CardSuit");
}

Ref MemberList(const PyObject* const* members, std::size_t count) {
  Ref list = Check(PyList_New(static_cast<Py_ssize_t>(count)));
  for (std::size_t i = 0; i < count; ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i),
                    Py_NewRef(const_cast<PyObject*>(members[i])));
  }
  return list;
}

PyObject* SuitAll(PyObject* cls, PyObject*) {
  return Guard(reinterpret_cast<PyTypeObject*>(cls), [&] {
    ModuleState& state = StateOfType(reinterpret_cast<PyTypeObject*>(cls));
    return MemberList(state.suits.data(), game::kRealSuits.size()).release();
  });
}

PyMethodDef kSuitAll = {"all", SuitAll, METH_NOARGS, "all()\n--\n\n"};

PyType_Slot kSuitSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(NoConstructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<CardSuit>)},
    {Py_tp_repr, reinterpret_cast<void*>(SuitRepr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(SuitCompare)},
    {Py_nb_int, reinterpret_cast<void*>(EnumInt<CardSuit>)},
    {0, nullptr},
};

PyType_Spec kSuitSpec = BoxedSpec<CardSuit>("CardSuit", kSuitSlots);

// CardValue -------------------------------------------------------------------------------

PyObject* ValueRepr(PyObject* self) {
  return Guard(TypeOf(self), [&] {
    std::string text = "CardValue." + std::string(game::value_name(ValueOf<CardValue>(self)));
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

PyObject* ValueCompare(PyObject* self, PyObject* other, int op) {
  return CompareEnum<CardValue>(self, other, op, "CardValue");
}

PyObject* ValueNumbers(PyObject* cls, PyObject*) {
  return Guard(reinterpret_cast<PyTypeObject*>(cls), [&] {
    ModuleState& state = StateOfType(reinterpret_cast<PyTypeObject*>(cls));
    return MemberList(state.values.data() + static_cast<int>(CardValue::Ace), 10).release();
  });
}

PyObject* ValueRoyals(PyObject* cls, PyObject*) {
  return Guard(reinterpret_cast<PyTypeObject*>(cls), [&] {
    ModuleState& state = StateOfType(reinterpret_cast<PyTypeObject*>(cls));
    const PyObject* royals[] = {state.values[static_cast<int>(CardValue::King)],
                                state.values[static_cast<int>(CardValue::Queen)],
                                state.values[static_cast<int>(CardValue::Jack)]};
    return MemberList(royals, 3).release();
  });
}

PyMethodDef kValueNumbers = {"numbers", ValueNumbers, METH_NOARGS, "numbers()\n--\n\n"};
PyMethodDef kValueRoyals = {"royals", ValueRoyals, METH_NOARGS, "royals()\n--\n\n"};

PyType_Slot kValueSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(NoConstructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<CardValue>)},
    {Py_tp_repr, reinterpret_cast<void*>(ValueRepr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(ValueCompare)},
    {Py_nb_int, reinterpret_cast<void*>(EnumInt<CardValue>)},
    {0, nullptr},
};

PyType_Spec kValueSpec = BoxedSpec<CardValue>("CardValue", kValueSlots);

// Card ------------------------------------------------------------------------------------

PyObject* CardNew(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return Guard(type, [&] {
    ModuleState& state = StateOfType(type);
    static const Signature kSignature{"Card", {"suit", "value"}, 2};
    PyObject* values[2];
    ParseArgs(kSignature, args, kwargs, values);
    if (Py_TYPE(values[0]) != state.card_suit) FailConversion(values[0], "suit", "CardSuit");
    if (Py_TYPE(values[1]) != state.card_value) FailConversion(values[1], "value", "CardValue");
    return NewBoxed<Card>(type, Card{ValueOf<CardSuit>(values[0]), ValueOf<CardValue>(values[1])})
        .release();
  });
}

PyObject* CardStr(PyObject* self) {
  return Guard(TypeOf(self), [&] {
    std::string text = game::card_text(ValueOf<Card>(self));
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

PyObject* CardCompare(PyObject* self, PyObject* other, int op) {
  if (Py_TYPE(other) != Py_TYPE(self)) Py_RETURN_NOTIMPLEMENTED;
  if (op != Py_EQ && op != Py_NE) {
    PyErr_SetString(PyExc_TypeError, "Operation not supported");
    return nullptr;
  }
  return PyBool_FromLong((ValueOf<Card>(self) == ValueOf<Card>(other)) == (op == Py_EQ));
}

PyType_Slot kCardSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(CardNew)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<Card>)},
    {Py_tp_str, reinterpret_cast<void*>(CardStr)},
    {Py_tp_repr, reinterpret_cast<void*>(CardStr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(CardCompare)},
    {Py_tp_doc, const_cast<char*>("Card(suit, value)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec kCardSpec = BoxedSpec<Card>("Card", kCardSlots);

// Enemy -----------------------------------------------------------------------------------

PyObject* EnemyStr(PyObject* self) {
  return Guard(TypeOf(self), [&] {
    std::string text = util::debug_text(ValueOf<game::Enemy>(self));
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

PyType_Slot kEnemySlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(NoConstructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<game::Enemy>)},
    {Py_tp_str, reinterpret_cast<void*>(EnemyStr)},
    {0, nullptr},
};

PyType_Spec kEnemySpec = BoxedSpec<game::Enemy>("Enemy", kEnemySlots);

// PlayerId --------------------------------------------------------------------------------
// Beyond the bare class: its debug text as repr, its number through int()/__index__ (so it
// can index the seat list) and equality, so that a Python player can tell whose turn it is.

PyObject* PlayerIdRepr(PyObject* self) {
  return Guard(TypeOf(self), [&] {
    std::string text = util::debug_text(ValueOf<game::PlayerId>(self));
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

PyObject* PlayerIdIndex(PyObject* self) {
  return PyLong_FromSize_t(ValueOf<game::PlayerId>(self).id);
}

PyObject* PlayerIdCompare(PyObject* self, PyObject* other, int op) {
  if (Py_TYPE(other) != Py_TYPE(self) || (op != Py_EQ && op != Py_NE)) Py_RETURN_NOTIMPLEMENTED;
  return PyBool_FromLong((ValueOf<game::PlayerId>(self) == ValueOf<game::PlayerId>(other)) ==
                         (op == Py_EQ));
}

PyType_Slot kPlayerIdSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(NoConstructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<game::PlayerId>)},
    {Py_tp_repr, reinterpret_cast<void*>(PlayerIdRepr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(PlayerIdCompare)},
    {Py_nb_index, reinterpret_cast<void*>(PlayerIdIndex)},
    {Py_nb_int, reinterpret_cast<void*>(PlayerIdIndex)},
    {0, nullptr},
};

PyType_Spec kPlayerIdSpec = BoxedSpec<game::PlayerId>("PlayerId", kPlayerIdSlots);

// A static method whose function is bound to the class itself: METH_STATIC would pass
// nullptr, leaving no way to reach the module state.
void AddStaticMethod(PyTypeObject* type, PyMethodDef* def) {
  Ref function = Check(PyCFunction_New(def, reinterpret_cast<PyObject*>(type)));
  Ref method = Check(PyStaticMethod_New(function.get()));
  SetClassAttribute(type, def->ml_name, method.get());
}

PyTypeObject* Release(Ref type) { return reinterpret_cast<PyTypeObject*>(type.release()); }

}  // namespace

Ref NewCard(ModuleState& state, game::Card card) { return NewBoxed<Card>(state.card, card); }

Ref NewEnemy(ModuleState& state, const game::Enemy& enemy) {
  return NewBoxed<game::Enemy>(state.enemy, enemy);
}

Ref NewPlayerId(ModuleState& state, game::PlayerId id) {
  return NewBoxed<game::PlayerId>(state.player_id, id);
}

game::Card ToCard(ModuleState& state, PyObject* object, const char* name) {
  if (Py_TYPE(object) != state.card) FailConversion(object, name, "Card");
  return ValueOf<Card>(object);
}

void AddCardTypes(PyObject* module, PyObject* target, ModuleState& state) {
  state.card = Release(NewType(module, &kCardSpec));
  state.card_suit = Release(NewType(module, &kSuitSpec));
  state.card_value = Release(NewType(module, &kValueSpec));
  state.enemy = Release(NewType(module, &kEnemySpec));
  state.player_id = Release(NewType(module, &kPlayerIdSpec));

  AddStaticMethod(state.card_suit, &kSuitAll);
  AddStaticMethod(state.card_value, &kValueNumbers);
  AddStaticMethod(state.card_value, &kValueRoyals);
  for (std::size_t i = 0; i < kSuits; ++i) {
    auto suit = static_cast<CardSuit>(i);
    state.suits[i] = NewBoxed<CardSuit>(state.card_suit, suit).release();
    std::string name(game::suit_name(suit));
    SetClassAttribute(state.card_suit, name.c_str(), state.suits[i]);
  }
  for (std::size_t i = 0; i < kValues; ++i) {
    auto value = static_cast<CardValue>(i);
    state.values[i] = NewBoxed<CardValue>(state.card_value, value).release();
    std::string name(game::value_name(value));
    SetClassAttribute(state.card_value, name.c_str(), state.values[i]);
  }

  AddToAll(target, "Card", reinterpret_cast<PyObject*>(state.card));
  AddToAll(target, "CardSuit", reinterpret_cast<PyObject*>(state.card_suit));
  AddToAll(target, "CardValue", reinterpret_cast<PyObject*>(state.card_value));
}

}  // namespace vardelic::python

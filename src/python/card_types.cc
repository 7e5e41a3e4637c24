// The card classes: Card, CardSuit, CardValue, and the unregistered Enemy and PlayerId.
#include <array>
#include <span>
#include <string>

#include "python/args.h"
#include "python/boxed.h"
#include "python/objects.h"
#include "python/slots.h"
#include "util/debug_text.h"

namespace vardelic::python {
namespace {

using game::Card;
using game::CardSuit;
using game::CardValue;

template <typename T>
std::string DebugText(const T& value) {
  return util::debug_text(value);
}

// The body of a static method that lists members of a class: pick(state) gives them, in order.
template <typename Pick>
PyObject* MemberList(PyObject* cls, Pick&& pick) {
  auto* type = reinterpret_cast<PyTypeObject*>(cls);
  return Guard(type, [&] {
    return NewList(pick(StateOfType(type)), [](PyObject* member) { return Ref::New(member); })
        .release();
  });
}

// CardSuit --------------------------------------------------------------------------------

std::string SuitText(CardSuit suit) { return "CardSuit." + std::string(game::suit_name(suit)); }

PyObject* SuitAll(PyObject* cls, PyObject*) {
  return MemberList(cls, [](ModuleState& state) {
    return std::span(state.suits).first(game::kRealSuits.size());
  });
}

PyMethodDef kSuitAll = {"all", SuitAll, METH_NOARGS, "all()\n--\n\n"};

PyType_Slot kSuitSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(NoConstructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<CardSuit>)},
    {Py_tp_repr, reinterpret_cast<void*>(TextSlot<CardSuit, SuitText>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(CompareAsInt<CardSuit>)},
    {Py_nb_int, reinterpret_cast<void*>(IntSlot<CardSuit>)},
    {0, nullptr},
};

PyType_Spec kSuitSpec = BoxedSpec<CardSuit>("CardSuit", kSuitSlots);

// CardValue -------------------------------------------------------------------------------

std::string ValueText(CardValue value) {
  return "CardValue." + std::string(game::value_name(value));
}

PyObject* ValueNumbers(PyObject* cls, PyObject*) {
  return MemberList(cls, [](ModuleState& state) {
    return std::span(state.values).subspan(static_cast<int>(CardValue::Ace), 10);
  });
}

PyObject* ValueRoyals(PyObject* cls, PyObject*) {
  return MemberList(cls, [](ModuleState& state) {
    return std::array{state.values[static_cast<int>(CardValue::King)],
                      state.values[static_cast<int>(CardValue::Queen)],
                      state.values[static_cast<int>(CardValue::Jack)]};
  });
}

PyMethodDef kValueNumbers = {"numbers", ValueNumbers, METH_NOARGS, "numbers()\n--\n\n"};
PyMethodDef kValueRoyals = {"royals", ValueRoyals, METH_NOARGS, "royals()\n--\n\n"};

PyType_Slot kValueSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(NoConstructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<CardValue>)},
    {Py_tp_repr, reinterpret_cast<void*>(TextSlot<CardValue, ValueText>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(CompareAsInt<CardValue>)},
    {Py_nb_int, reinterpret_cast<void*>(IntSlot<CardValue>)},
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

PyType_Slot kCardSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(CardNew)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<Card>)},
    {Py_tp_str, reinterpret_cast<void*>(TextSlot<Card, game::card_text>)},
    {Py_tp_repr, reinterpret_cast<void*>(TextSlot<Card, game::card_text>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(CompareValues<Card, Ordering::kRefused>)},
    {Py_tp_doc, const_cast<char*>("Card(suit, value)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec kCardSpec = BoxedSpec<Card>("Card", kCardSlots);

// Enemy -----------------------------------------------------------------------------------

PyType_Slot kEnemySlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(NoConstructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<game::Enemy>)},
    {Py_tp_str, reinterpret_cast<void*>(TextSlot<game::Enemy, DebugText<game::Enemy>>)},
    {0, nullptr},
};

PyType_Spec kEnemySpec = BoxedSpec<game::Enemy>("Enemy", kEnemySlots);

// PlayerId --------------------------------------------------------------------------------
// Beyond the bare class: its debug text as repr, its number through int()/__index__ (so it
// can index the seat list) and equality, so that a Python player can tell whose turn it is.

PyObject* PlayerIdIndex(PyObject* self) {
  return PyLong_FromSize_t(ValueOf<game::PlayerId>(self).id);
}

PyType_Slot kPlayerIdSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(NoConstructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<game::PlayerId>)},
    {Py_tp_repr, reinterpret_cast<void*>(TextSlot<game::PlayerId, DebugText<game::PlayerId>>)},
    {Py_tp_richcompare,
     reinterpret_cast<void*>(CompareValues<game::PlayerId, Ordering::kNotImplemented>)},
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
  state.card = NewType(module, &kCardSpec);
  state.card_suit = NewType(module, &kSuitSpec);
  state.card_value = NewType(module, &kValueSpec);
  state.enemy = NewType(module, &kEnemySpec);
  state.player_id = NewType(module, &kPlayerIdSpec);

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

  AddToAll(target, state.card);
  AddToAll(target, state.card_suit);
  AddToAll(target, state.card_value);
}

}  // namespace vardelic::python

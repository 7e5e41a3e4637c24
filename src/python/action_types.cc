// The seven action classes. Each embeds the game's Action itself: a class stands for one
// variant, so texts, equality and both conversions are those of the game's value.
#include <array>
#include <string>

#include "python/args.h"
#include "python/boxed.h"
#include "python/objects.h"
#include "python/slots.h"

namespace vardelic::python {
namespace {

using game::Action;
using game::ActionKind;
using game::Card;

// The Python class names, in variant order, and the variant names of the conversion error.
constexpr std::array<const char*, kActionClasses> kClassNames = {
    "ActionPlay",    "ActionAnimalCombo",  "ActionCombo",     "ActionYield",
    "ActionDiscard", "ActionChangePlayer", "ActionRefillHand"};
constexpr std::array<const char*, kActionClasses> kVariantNames = {
    "PyActionPlay",    "PyActionAnimalCombo",  "PyActionCombo",     "PyActionYield",
    "PyActionDiscard", "PyActionChangePlayer", "PyActionRefillHand"};

// The constructors' text signatures, for inspect.signature.
constexpr std::array<const char*, kActionClasses> kDocs = {
    "ActionPlay(card)\n--\n\n",
    "ActionAnimalCombo(c1, c2)\n--\n\n",
    "ActionCombo(cards)\n--\n\n",
    "ActionYield(*args, **kwargs)\n--\n\n",
    "ActionDiscard(cards)\n--\n\n",
    "ActionChangePlayer(id)\n--\n\n",
    "ActionRefillHand(*args, **kwargs)\n--\n\n"};

// A sequence of at most N cards, in sequence order. The length is checked before any element
// is read, so nothing beyond the list's capacity is ever written.
template <std::size_t N>
util::InlineList<Card, N> ToCards(ModuleState& state, PyObject* object, const char* name,
                                  const char* class_name) {
  if (!PySequence_Check(object)) FailConversion(object, name, "Sequence");
  const Py_ssize_t size = PySequence_Size(object);
  if (size < 0) FailArgument(name);
  if (static_cast<std::size_t>(size) > N) {
    Raise(PyExc_ValueError, std::string("argument '") + name + "': " + class_name +
                                " holds at most " + std::to_string(N) + " cards, got " +
                                std::to_string(size));
  }
  util::InlineList<Card, N> cards;
  for (Py_ssize_t i = 0; i < size; ++i) {
    Ref item = Ref::Steal(PySequence_GetItem(object, i));
    if (!item) FailArgument(name);
    cards.push_back(ToCard(state, item.get(), name));
  }
  return cards;
}

template <ActionKind kKind>
PyObject* ActionNew(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return Guard(type, [&] {
    ModuleState& state = StateOfType(type);
    const char* class_name = kClassNames[static_cast<std::size_t>(kKind)];
    PyObject* values[2];
    auto parse = [&](std::initializer_list<const char*> names) {
      ParseArgs(Signature{class_name, names, names.size()}, args, kwargs, values);
    };
    Action action = Action::yield();
    if constexpr (kKind == ActionKind::Play) {
      parse({"card"});
      action = Action::play(ToCard(state, values[0], "card"));
    } else if constexpr (kKind == ActionKind::AnimalCombo) {
      parse({"c1", "c2"});
      action = Action::animal_combo(ToCard(state, values[0], "c1"), ToCard(state, values[1], "c2"));
    } else if constexpr (kKind == ActionKind::Combo) {
      parse({"cards"});
      action = Action::combo(ToCards<4>(state, values[0], "cards", class_name));
    } else if constexpr (kKind == ActionKind::Discard) {
      parse({"cards"});
      action = Action::discard(ToCards<8>(state, values[0], "cards", class_name));
    } else if constexpr (kKind == ActionKind::ChangePlayer) {
      parse({"id"});
      action = Action::change_player(game::PlayerId{ToUnsigned<std::size_t>(values[0], "id")});
    } else if constexpr (kKind == ActionKind::RefillHand) {
      action = Action::refill_hand();  // arguments are ignored, as for ActionYield
    }
    return NewBoxed<Action>(type, action).release();
  });
}

template <ActionKind kKind>
struct ActionClass {
  static inline PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(ActionNew<kKind>)},
      {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<Action>)},
      {Py_tp_str, reinterpret_cast<void*>(TextSlot<Action, game::action_text>)},
      {Py_tp_repr, reinterpret_cast<void*>(TextSlot<Action, game::action_text>)},
      {Py_tp_richcompare, reinterpret_cast<void*>(CompareValues<Action, Ordering::kRefused>)},
      {Py_tp_doc, const_cast<char*>(kDocs[static_cast<std::size_t>(kKind)])},
      {0, nullptr},
  };
  static inline PyType_Spec type_spec =
      BoxedSpec<Action>(kClassNames[static_cast<std::size_t>(kKind)], slots);
};

std::array<PyType_Spec*, kActionClasses> kSpecs = {
    &ActionClass<ActionKind::Play>::type_spec,
    &ActionClass<ActionKind::AnimalCombo>::type_spec,
    &ActionClass<ActionKind::Combo>::type_spec,
    &ActionClass<ActionKind::Yield>::type_spec,
    &ActionClass<ActionKind::Discard>::type_spec,
    &ActionClass<ActionKind::ChangePlayer>::type_spec,
    &ActionClass<ActionKind::RefillHand>::type_spec,
};

}  // namespace

Ref NewAction(ModuleState& state, const Action& action) {
  return NewBoxed<Action>(state.actions[static_cast<std::size_t>(action.kind())], action);
}

Ref NewActionList(ModuleState& state, const std::vector<Action>& actions) {
  return NewList(actions, [&](const Action& action) { return NewAction(state, action); });
}

Action ToAction(ModuleState& state, PyObject* object) {
  for (PyTypeObject* type : state.actions) {
    if (Py_TYPE(object) == type) return ValueOf<Action>(object);
  }
  std::string message = "failed to extract enum PyAction ('";
  for (std::size_t i = 0; i < kActionClasses; ++i) {
    if (i != 0) message += " | ";
    message += kVariantNames[i];
  }
  message += "')";
  for (std::size_t i = 0; i < kActionClasses; ++i) {
    message += std::string("\n- variant ") + kVariantNames[i] + " (" + kVariantNames[i] +
               "): " + CannotConvert(object, kClassNames[i]);
  }
  Raise(PyExc_TypeError, message);
}

void AddActionTypes(PyObject* module, PyObject* target, ModuleState& state) {
  for (std::size_t i = 0; i < kActionClasses; ++i) {
    state.actions[i] = NewType(module, kSpecs[i]);
  }
  // ActionRefillHand, the last, is registered nowhere.
  for (std::size_t i = 0; i + 1 < kActionClasses; ++i) {
    AddToAll(target, state.actions[i]);
  }
}

}  // namespace vardelic::python

#pragma once

#include <Python.h>

#include <array>
#include <cstddef>

namespace vardelic::python {

inline constexpr std::size_t kActionClasses = 7;
inline constexpr std::size_t kSuits = 5;
inline constexpr std::size_t kValues = 14;

// Everything the module creates once: its types, its exception class and the shared member
// objects. Lives in the module object (m_size), never in globals, so that every interpreter
// and every re-import gets its own. All entries are strong references, released by m_clear.
struct ModuleState {
  PyObject* engine_error;

  PyTypeObject* card;
  PyTypeObject* card_suit;
  PyTypeObject* card_value;
  PyTypeObject* enemy;
  PyTypeObject* player_id;
  // In the order of the game's action variants, Play to RefillHand.
  std::array<PyTypeObject*, kActionClasses> actions;
  PyTypeObject* py_state;
  PyTypeObject* game_result;
  PyTypeObject* random_player;
  PyTypeObject* input_player;
  PyTypeObject* mcts_player;
  PyTypeObject* vardelic_game;

  // The class attributes CardSuit.Spades..None, CardValue.Jester..King, GameResult.Won/Lost.
  std::array<PyObject*, kSuits> suits;
  std::array<PyObject*, kValues> values;
  std::array<PyObject*, 2> results;

  // The driver's call of a Python player: the name "play" and the keyword names ("state",).
  PyObject* play_name;
  PyObject* state_kwnames;

  template <typename F>
  void ForEachRef(F&& f) {
    f(engine_error);
    for (PyTypeObject** t :
         {&card, &card_suit, &card_value, &enemy, &player_id, &py_state, &game_result,
          &random_player, &input_player, &mcts_player, &vardelic_game}) {
      f(reinterpret_cast<PyObject*&>(*t));
    }
    for (auto& t : actions) f(reinterpret_cast<PyObject*&>(t));
    for (auto& o : suits) f(o);
    for (auto& o : values) f(o);
    for (auto& o : results) f(o);
    f(play_name);
    f(state_kwnames);
  }
};

extern PyModuleDef kModuleDef;

inline ModuleState& StateOf(PyObject* module) {
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}

// The state of the module that defined `type` (a type of this module, or one derived from
// it); throws PythonError when there is none.
ModuleState& StateOfType(PyTypeObject* type);

// The state of the module that created `defining_class`, the class a METH_METHOD method gets.
inline ModuleState& StateOfClass(PyTypeObject* defining_class) {
  return *static_cast<ModuleState*>(PyType_GetModuleState(defining_class));
}

}  // namespace vardelic::python

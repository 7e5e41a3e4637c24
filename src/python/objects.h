#pragma once

#include <Python.h>

#include <optional>
#include <vector>

#include "game/action.h"
#include "game/card.h"
#include "game/enemy.h"
#include "game/player.h"
#include "game/state_enum.h"
#include "players/builtin_player.h"
#include "python/module_state.h"
#include "python/ref.h"

namespace vardelic::python {

// Conversions between game values and the module's Python objects. Every Ref is a new
// object holding a copy; nothing handed out refers back to a game. All throw PythonError.

Ref NewCard(ModuleState& state, game::Card card);
Ref NewEnemy(ModuleState& state, const game::Enemy& enemy);
Ref NewPlayerId(ModuleState& state, game::PlayerId id);
// An object of the action class of the action's variant.
Ref NewAction(ModuleState& state, const game::Action& action);
Ref NewActionList(ModuleState& state, const std::vector<game::Action>& actions);
Ref NewPyState(ModuleState& state, const game::StateEnum& value);
Ref NewGameResult(ModuleState& state, const game::GameResult& result);

// The card of a Card object, or the TypeError "argument '<name>': ..." for anything else.
game::Card ToCard(ModuleState& state, PyObject* object, const char* name);
// A Python player's answer: an object of one of the seven action classes, or the TypeError
// "failed to extract enum PyAction (...)" naming every class that was tried.
game::Action ToAction(ModuleState& state, PyObject* object);
// The state of a PyState object, or the TypeError "argument '<name>': ...".
const game::StateEnum& ToStateEnum(ModuleState& state, PyObject* object, const char* name);

// A copy of the player held by a RandomPlayer, InputPlayer or MCTSPlayer object (tried in
// this order); nullopt for any other object.
std::optional<players::BuiltinPlayer> ToBuiltinPlayer(ModuleState& state, PyObject* object);

// The binding files: each creates its classes (bound to the top-level `module`, whose state
// is `state`) and registers them in `target` where the module tree has them.
void AddCardTypes(PyObject* module, PyObject* target, ModuleState& state);
void AddActionTypes(PyObject* module, PyObject* target, ModuleState& state);
void AddStateTypes(PyObject* module, ModuleState& state);
void AddPlayerTypes(PyObject* module, PyObject* target, ModuleState& state);
void AddGameType(PyObject* module, ModuleState& state);
// The capsule `_C_API` (python/capsule/capsule_api.h).
void AddCapsuleApi(PyObject* module);

}  // namespace vardelic::python

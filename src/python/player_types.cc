// The built-in player classes: RandomPlayer, InputPlayer and MCTSPlayer.
#include <cstdint>
#include <optional>
#include <span>
#include <variant>

#include "python/args.h"
#include "python/boxed.h"
#include "python/objects.h"
#include "python/slots.h"

namespace vardelic::python {
namespace {

using players::InputPlayer;
using players::MCTSPlayer;
using players::RandomPlayer;

// play(state) of RandomPlayer and MCTSPlayer: the decision runs on the state of the PyState
// argument while the player is held exclusively, and the action comes back as an object.
template <typename Player>
PyObject* Play(PyObject* self, PyTypeObject* cls, PyObject* const* args, Py_ssize_t nargs,
               PyObject* kwnames) {
  return Guard(cls, [&] {
    ModuleState& module = StateOfClass(cls);
    static const Signature kSignature{"play", {"state"}, 1};
    PyObject* values[1];
    ParseArgs(kSignature, args, nargs, kwnames, values);
    const game::StateEnum& state = ToStateEnum(module, values[0], "state");
    ExclusiveBorrow borrow(Unbox<Player>(self)->borrow);
    Player& player = ValueOf<Player>(self);
    game::Action action =
        std::visit([&](const auto& s) -> game::Action { return player.play(s); }, state);
    return NewAction(module, action).release();
  });
}

// RandomPlayer ----------------------------------------------------------------------------

PyObject* RandomNew(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return Guard(type, [&] {
    static const Signature kSignature{"RandomPlayer", {"seed"}, 0};
    PyObject* values[1];
    ParseArgs(kSignature, args, kwargs, values);
    std::optional<std::uint64_t> seed = ToOptionalUnsigned<std::uint64_t>(values[0], "seed");
    return NewBoxed<RandomPlayer>(type, seed).release();
  });
}

PyMethodDef kRandomMethods[] = {
    MethodDef("play", Play<RandomPlayer>, "play($self, state)\n--\n\n"),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kRandomSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(RandomNew)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<RandomPlayer>)},
    {Py_tp_methods, kRandomMethods},
    {Py_tp_doc, const_cast<char*>("RandomPlayer(seed=None)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec kRandomSpec = BoxedSpec<RandomPlayer>("RandomPlayer", kRandomSlots);

// InputPlayer -----------------------------------------------------------------------------

PyObject* InputNew(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return Guard(type, [&] {
    ParseNoArgs("InputPlayer", args, kwargs);
    return NewBoxed<InputPlayer>(type).release();
  });
}

PyType_Slot kInputSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(InputNew)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<InputPlayer>)},
    {Py_tp_doc, const_cast<char*>("InputPlayer()\n--\n\n")},
    {0, nullptr},
};

PyType_Spec kInputSpec = BoxedSpec<InputPlayer>("InputPlayer", kInputSlots);

// MCTSPlayer ------------------------------------------------------------------------------

PyObject* MctsNew(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return Guard(type, [&] {
    static const Signature kSignature{
        "MCTSPlayer",
        {"playouts", "num_threads", "use_heuristics", "policy_variation", "deterministic_samples"},
        3};
    PyObject* values[5];
    ParseArgs(kSignature, args, kwargs, values);
    auto playouts = ToUnsigned<std::uint32_t>(values[0], "playouts");
    auto num_threads = ToUnsigned<std::size_t>(values[1], "num_threads");
    bool use_heuristics = ToBool(values[2], "use_heuristics");
    auto policy = ToOptionalUnsigned<std::uint8_t>(values[3], "policy_variation");
    auto samples = ToOptionalUnsigned<std::uint32_t>(values[4], "deterministic_samples");
    return NewBoxed<MCTSPlayer>(type, playouts, num_threads, use_heuristics, policy,
                                samples.value_or(1))
        .release();
  });
}

PyObject* RankedActions(PyObject* self, PyTypeObject* cls, PyObject* const*, Py_ssize_t nargs,
                        PyObject* kwnames) {
  return NoArgsMethod<MCTSPlayer>(
      self, cls, "ranked_actions", nargs, kwnames, [](ModuleState& module, MCTSPlayer& player) {
        const auto& ranked = player.ranked_actions();
        return NewList(ranked ? std::span(*ranked) : std::span<const players::RankedAction>(),
                       [&](const players::RankedAction& entry) {
                         Ref action = NewAction(module, entry.action);
                         Ref visits = Check(PyLong_FromUnsignedLongLong(entry.visits));
                         Ref reward = Check(PyFloat_FromDouble(entry.avg_reward));
                         return Check(PyTuple_Pack(3, action.get(), visits.get(), reward.get()));
                       })
            .release();
      });
}

PyMethodDef kMctsMethods[] = {
    MethodDef("play", Play<MCTSPlayer>,
              "play($self, state)\n--\n\nChoose an action based on the given state"),
    MethodDef("ranked_actions", RankedActions,
              "ranked_actions($self)\n--\n\n"
              "List actions with associated stats, sorted by most visits in the MCTS.\n"
              "The first Action in the list is considered the best move to play, and is\n"
              "also what `play()` will return.\n"
              "\n"
              "Updates on calls to `play()`.\n"
              "\n"
              "# Returns\n"
              "List of tuples in the form `(action, visits, avg_reward)`"),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kMctsSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(MctsNew)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<MCTSPlayer>)},
    {Py_tp_methods, kMctsMethods},
    {Py_tp_doc, const_cast<char*>("MCTSPlayer(playouts, num_threads, use_heuristics, "
                                  "policy_variation=None, deterministic_samples=None)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec kMctsSpec = BoxedSpec<MCTSPlayer>("MCTSPlayer", kMctsSlots);

template <typename Player>
players::BuiltinPlayer CopyPlayer(PyObject* object) {
  SharedBorrow borrow(Unbox<Player>(object)->borrow);
  return players::BuiltinPlayer(std::in_place_type<Player>, ValueOf<Player>(object));
}

}  // namespace

std::optional<players::BuiltinPlayer> ToBuiltinPlayer(ModuleState& state, PyObject* object) {
  PyTypeObject* type = Py_TYPE(object);
  if (type == state.random_player) return CopyPlayer<RandomPlayer>(object);
  if (type == state.input_player) return CopyPlayer<InputPlayer>(object);
  if (type == state.mcts_player) return CopyPlayer<MCTSPlayer>(object);
  return std::nullopt;
}

void AddPlayerTypes(PyObject* module, PyObject* target, ModuleState& state) {
  state.random_player = NewType(module, &kRandomSpec);
  state.input_player = NewType(module, &kInputSpec);
  state.mcts_player = NewType(module, &kMctsSpec);
  AddToAll(target, state.random_player);
  AddToAll(target, state.input_player);
  AddToAll(target, state.mcts_player);
}

}  // namespace vardelic::python

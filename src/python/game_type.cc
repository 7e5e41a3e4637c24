// VardelicGame: seats the players, runs the main loop and dumps the state for debugging.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "python/args.h"
#include "python/boxed.h"
#include "python/objects.h"
#include "python/slots.h"
#include "util/debug_text.h"
#include "util/failure.h"

namespace vardelic::python {
namespace {

// A seat owns a copy of a built-in player, or holds a strong reference to a Python object
// whose "play" is called.
struct Seat {
  std::optional<players::BuiltinPlayer> builtin;
  Ref python;
};

struct Game {
  game::StateEnum state;
  std::vector<Seat> seats;  // seat i plays for PlayerId i
};

// The debug form of the wrapped state: PyState { state_enum: PlayersN(State { ... }) }.
struct StateEnumView {
  const game::StateEnum& value;
};
struct PyStateView {
  const game::StateEnum& value;
};

void write_debug(util::DebugWriter& w, const StateEnumView& view) {
  static constexpr const char* kNames[] = {"Players1", "Players2", "Players3", "Players4"};
  std::visit([&](const auto& state) { w.tuple(kNames[view.value.index()]).value(state).finish(); },
             view.value);
}

void write_debug(util::DebugWriter& w, const PyStateView& view) {
  w.record("PyState").field("state_enum", StateEnumView{view.value}).finish();
}

// The interactive player writes to C's standard output: what Python has buffered for its own
// sys.stdout goes first, so the terminal shows both in order.
void FlushPythonStream(const char* name) {
  if (PyObject* stream = PySys_GetObject(name); stream != nullptr && stream != Py_None) {
    Ref flushed = Ref::Steal(PyObject_CallMethod(stream, "flush", nullptr));
    if (!flushed) PyErr_Clear();
  }
}

std::string_view BaseName(std::string_view path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

PyObject* GameNew(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return Guard(type, [&] {
    ModuleState& module = StateOfType(type);
    static const Signature kSignature{"VardelicGame", {"players", "seed"}, 1};
    PyObject* values[2];
    ParseArgs(kSignature, args, kwargs, values);

    PyObject* list = values[0];
    if (!PySequence_Check(list)) FailConversion(list, "players", "Sequence");
    const Py_ssize_t count = PySequence_Size(list);
    if (count < 0) FailArgument("players");
    // The length is the caller's claim: a count that no game has is refused without reading a
    // single element (there may be billions, or none behind the claim).
    const bool playable = count >= 1 && count <= 4;
    std::vector<Seat> seats;
    for (Py_ssize_t i = 0; playable && i < count; ++i) {
      Ref item = Ref::Steal(PySequence_GetItem(list, i));
      if (!item) FailArgument("players");
      Seat seat;
      seat.builtin = ToBuiltinPlayer(module, item.get());
      if (!seat.builtin) seat.python = std::move(item);
      seats.push_back(std::move(seat));
    }
    auto seed = ToOptionalUnsigned<std::uint64_t>(values[1], "seed");

    std::optional<game::StateEnum> state = game::new_state_enum(seats.size(), seed);
    if (!state) Raise(PyExc_ValueError, game::kPlayerCountMessage);
    return NewBoxed<Game>(type, Game{*state, std::move(seats)}).release();
  });
}

int GameTraverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  for (Seat& seat : ValueOf<Game>(self).seats) Py_VISIT(seat.python.get());
  return 0;
}

int GameClear(PyObject* self) {
  for (Seat& seat : ValueOf<Game>(self).seats) seat.python.Reset();
  return 0;
}

// A Python seat's answer: play(state=<copy of the state>) converted to a game action.
game::Action AskPython(ModuleState& module, const Seat& seat, const game::StateEnum& state) {
  // Held for the call: the player may drop every other reference to itself.
  Ref player = Ref::New(seat.python.get());
  if (!player) Raise(PyExc_RuntimeError, "the seat's player was released by the collector");
  Ref view = NewPyState(module, state);
  PyObject* call_args[] = {player.get(), view.get()};
  Ref answer =
      Check(PyObject_VectorcallMethod(module.play_name, call_args, 1, module.state_kwnames));
  return ToAction(module, answer.get());
}

[[noreturn]] void RaiseIllegal(const game::Action& action, const std::vector<game::Action>& legal) {
  std::string message =
      "'" + game::action_text(action) + "' is not a legal action. Legal actions are: [";
  for (std::size_t i = 0; i < legal.size(); ++i) {
    if (i != 0) message += ", ";
    message += game::action_text(legal[i]);
  }
  message += "]";
  Raise(PyExc_KeyError, message);
}

// Runs turns until the game ends (game::stuck_result ends a position without a legal action
// before its seat is asked). Each turn works on copies and replaces the stored state
// only once its action has been checked and applied, so a failing turn changes nothing.
PyObject* Playout(PyObject* self, PyTypeObject* cls, PyObject* const*, Py_ssize_t nargs,
                  PyObject* kwnames) {
  return NoArgsMethod<Game, ExclusiveBorrow>(
      self, cls, "playout", nargs, kwnames, [](ModuleState& module, Game& game) -> PyObject* {
        while (true) {
          // A position without a legal action ends the game before any seat is asked.
          if (std::optional<game::GameResult> stuck =
                  std::visit([](const auto& s) { return game::stuck_result(s); }, game.state)) {
            return NewGameResult(module, *stuck).release();
          }
          const std::size_t turn =
              std::visit([](const auto& s) { return s.has_turn.id; }, game.state);
          if (turn >= game.seats.size()) throw util::Failure("the player to move has no seat");
          Seat& seat = game.seats[turn];
          if (seat.builtin && std::holds_alternative<players::InputPlayer>(*seat.builtin)) {
            FlushPythonStream("stdout");
          }
          game::Action action = seat.builtin ? players::play(*seat.builtin, game.state)
                                             : AskPython(module, seat, game.state);

          std::optional<game::GameResult> result = std::visit(
              [&](auto& state) -> std::optional<game::GameResult> {
                std::vector<game::Action> legal = state.get_action_space();
                if (std::find(legal.begin(), legal.end(), action) == legal.end()) {
                  RaiseIllegal(action, legal);
                }
                auto status = state.apply_action(action);
                if (auto* next = std::get_if<0>(&status)) {
                  state = *next;
                  return std::nullopt;
                }
                return std::get<game::GameResult>(status);
              },
              game.state);
          if (result) return NewGameResult(module, *result).release();
        }
      });
}

PyObject* Print(PyObject* self, PyTypeObject* cls, PyObject* const*, Py_ssize_t nargs,
                PyObject* kwnames) {
  return NoArgsMethod<Game>(self, cls, "print", nargs, kwnames, [](ModuleState&, Game& game) {
    FlushPythonStream("stderr");
    std::string text = util::debug_text(PyStateView{game.state}, true);
    std::string location = std::string(BaseName(__FILE__)) + ":";
    std::fprintf(stderr, "[%s%d] &self.state = %s\n", location.c_str(), __LINE__, text.c_str());
    std::fflush(stderr);
    Py_RETURN_NONE;
  });
}

PyObject* Reward(PyObject* self, PyTypeObject* cls, PyObject* const*, Py_ssize_t nargs,
                 PyObject* kwnames) {
  return NoArgsMethod<Game>(self, cls, "reward", nargs, kwnames, [](ModuleState&, Game& game) {
    return PyLong_FromUnsignedLong(
        std::visit([](const auto& s) { return s.reward(); }, game.state));
  });
}

PyMethodDef kGameMethods[] = {
    MethodDef("playout", Playout, "playout($self)\n--\n\n"),
    MethodDef("print", Print, "print($self)\n--\n\n"),
    MethodDef("reward", Reward, "reward($self)\n--\n\n"),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kGameSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(GameNew)},
    {Py_tp_dealloc, reinterpret_cast<void*>(DeallocBoxed<Game>)},
    {Py_tp_traverse, reinterpret_cast<void*>(GameTraverse)},
    {Py_tp_clear, reinterpret_cast<void*>(GameClear)},
    {Py_tp_methods, kGameMethods},
    {Py_tp_doc, const_cast<char*>("VardelicGame(players, seed=None)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec kGameSpec = BoxedSpec<Game>("VardelicGame", kGameSlots, Py_TPFLAGS_HAVE_GC);

}  // namespace

void AddGameType(PyObject* module, ModuleState& state) {
  state.vardelic_game = NewType(module, &kGameSpec);
  AddToAll(module, state.vardelic_game);
}

}  // namespace vardelic::python

// Game's seed, moves and record, stepping a list of ids at once, and an action's id on a
// vardelic PyState: what vardelic_rl.records builds game records and replays on. Added to
// the Game class that module.cc defines.
#include "rl/python/records.h"

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "python/capi/vardelic_capi.h"
#include "rl/action_ids.h"
#include "rl/episode.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace vardelic::rl {

const python::CApi& vardelic_capi(PyObject*& module) {
  // PyCapsule_Import keeps no reference of its own; the interpreter keeps `vardelic` alive.
  static PyObject* vardelic = nullptr;
  static const python::CApi* api = nullptr;
  if (api == nullptr) {
    nb::object imported = nb::module_::import_("vardelic");
    api = python::ImportCApi();
    if (api == nullptr) throw nb::python_error();
    vardelic = imported.release().ptr();
  }
  module = vardelic;
  return *api;
}

namespace {

// Reads a list, tuple or other iterable of ints into `out`: TypeError names the first entry
// that is not an int; an int beyond int64 becomes an id no game has.
void read_ids(nb::handle ids, std::vector<std::int64_t>& out) {
  nb::object sequence = nb::steal(PySequence_Fast(ids.ptr(), "action_ids must be a sequence"));
  if (!sequence) throw nb::python_error();
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(sequence.ptr());
  PyObject** items = PySequence_Fast_ITEMS(sequence.ptr());
  out.resize(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = items[i];
    if (PyBool_Check(item) || !PyIndex_Check(item)) {
      throw nb::type_error(("action_ids[" + std::to_string(i) + "] must be an int, not " +
                            std::string(Py_TYPE(item)->tp_name))
                               .c_str());
    }
    int overflow = 0;
    long long value = PyLong_Check(item) ? PyLong_AsLongLongAndOverflow(item, &overflow) : 0;
    if (!PyLong_Check(item)) {
      nb::object number = nb::steal(PyNumber_Index(item));
      if (!number) throw nb::python_error();
      value = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    }
    if (value == -1 && PyErr_Occurred()) throw nb::python_error();
    out[static_cast<std::size_t>(i)] = overflow == 0  ? value
                                       : overflow > 0 ? std::numeric_limits<std::int64_t>::max()
                                                      : std::numeric_limits<std::int64_t>::min();
  }
}

nb::list moves_list(const AnyEpisode& game) {
  nb::list out;
  for (std::int16_t id : game.moves()) out.append(nb::int_(id));
  return out;
}

}  // namespace

void bind_records(nb::module_& m) {
  nb::handle game = nb::type<AnyEpisode>();
  nb::object property = nb::module_::import_("builtins").attr("property");

  nb::setattr(game, "seed",
              property(nb::cpp_function(
                           [](const AnyEpisode& self) -> nb::object {
                             if (!self.seed()) return nb::none();
                             return nb::int_(*self.seed());
                           },
                           nb::is_method()),
                       nb::none(), nb::none(),
                       "The seed the game was dealt from (drawn at creation when none was "
                       "given), or None for a game picked up at a position."));
  nb::setattr(game, "moves",
              property(nb::cpp_function(&moves_list, nb::is_method()), nb::none(), nb::none(),
                       "The action ids played so far, in order (a new list)."));

  nb::cpp_function_def(
      [](AnyEpisode& self, nb::handle action_ids) {
        std::vector<std::int64_t> ids;
        read_ids(action_ids, ids);
        const int before = self.reward();
        try {
          self.step_all(ids);
        } catch (const std::invalid_argument& error) {
          throw nb::value_error(error.what());
        }
        return self.reward() - before;
      },
      nb::scope(game), nb::name("step_many"), nb::is_method(), "action_ids"_a,
      "Plays the ids in order; returns the enemies they defeated. At the first id that is not "
      "legal where it stands, ValueError names its index and the legal ids; the ids before it "
      "stay played.");

  nb::cpp_function_def(
      [](const AnyEpisode& self, nb::handle seats) -> nb::object {
        if (!self.seed()) {
          throw nb::value_error("this game was picked up at a position: it has no seed to record");
        }
        nb::object record = nb::module_::import_("vardelic_rl.records").attr("_record_of_game");
        return record(nb::find(&self), seats);
      },
      nb::scope(game), nb::name("record"), nb::is_method(), "seats"_a = nb::none(),
      "The GameRecord of the game so far: its seed and moves, and its result and score once "
      "over. seats: a label per seat (default 'player 0', 'player 1', ...).");

  m.def(
      "_action_id",
      [](nb::handle state, nb::handle action) -> nb::object {
        PyObject* module = nullptr;
        const python::CApi& api = vardelic_capi(module);
        game::StateEnum position = game::State<1>{};
        if (api.copy_state(state.ptr(), &position) != 0) throw nb::python_error();
        const AnyEpisode episode(position);
        const LegalActions& legal = episode.legal();
        for (std::int16_t id : legal.ids()) {
          nb::object candidate = nb::steal(api.new_action(module, &legal.action(id)));
          if (!candidate) throw nb::python_error();
          const int equal = PyObject_RichCompareBool(candidate.ptr(), action.ptr(), Py_EQ);
          if (equal < 0) throw nb::python_error();
          if (equal == 1) return nb::int_(id);
        }
        return nb::none();
      },
      "state"_a, "action"_a,
      "The id of `action` on a vardelic PyState, or None when it is no legal action there.");
}

}  // namespace vardelic::rl

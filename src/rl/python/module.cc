// vardelic_rl._vardelic_rl: the learning environments' core bound with nanobind. Game values
// reach it from `vardelic` through that module's capsule; nothing here touches `vardelic`'s
// objects otherwise.
#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "python/capsule/nanobind_shared.h"
#include "rl/action_ids.h"
#include "rl/episode.h"
#include "rl/observation.h"
#include "rl/python/records.h"
#include "rl/vector_env.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace vardelic::rl {
namespace {

static_assert(sizeof(bool) == 1, "terminations are handed out as numpy booleans");

using Vector = nb::ndarray<nb::numpy, float, nb::ndim<1>>;
using Matrix = nb::ndarray<nb::numpy, float, nb::ndim<2>>;
using MaskMatrix = nb::ndarray<nb::numpy, std::int8_t, nb::ndim<2>>;

using python::shared::action_object;
using python::shared::OneCaller;
using python::shared::state_of;
using python::shared::to_seed;

// A new array of `size` elements that Python owns.
template <typename T>
nb::ndarray<nb::numpy, T, nb::ndim<1>> new_array(std::size_t size) {
  T* data = new T[size]();
  nb::capsule owner(data, [](void* p) noexcept { delete[] static_cast<T*>(p); });
  return nb::ndarray<nb::numpy, T, nb::ndim<1>>(data, {size}, owner);
}

// An action id: any integer (numpy's too). One beyond the int64 range is kept as the nearest
// int64, which no id is, so that it is refused as not legal rather than as a wrong type.
std::int64_t to_id(nb::handle id) {
  if (PyBool_Check(id.ptr()) || !PyIndex_Check(id.ptr())) {
    throw nb::type_error(
        ("action_id must be an int, not " + std::string(nb::type_name(id.type()).c_str())).c_str());
  }
  nb::object number = nb::steal(PyNumber_Index(id.ptr()));
  if (!number) throw nb::python_error();
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (value == -1 && PyErr_Occurred()) throw nb::python_error();
  if (overflow != 0) {
    return overflow > 0 ? std::numeric_limits<std::int64_t>::max()
                        : std::numeric_limits<std::int64_t>::min();
  }
  return value;
}

std::size_t to_count(long long value, const char* name) {
  if (value < 1) {
    throw nb::value_error(
        (std::string(name) + " must be at least 1, got " + std::to_string(value)).c_str());
  }
  return static_cast<std::size_t>(value);
}

std::size_t to_players(long long value) {
  if (value < 1 || value > 4) throw nb::value_error(game::kPlayerCountMessage);
  return static_cast<std::size_t>(value);
}

nb::tuple encode_episode(const AnyEpisode& episode) {
  auto observation = new_array<float>(kObservationSize);
  auto mask = new_array<std::int8_t>(kNumActions);
  episode.write_observation(episode.current_player(), observation.data());
  episode.write_mask(mask.data());
  return nb::make_tuple(observation, mask);
}

// A VectorEnv and the staging room for the ids of one step. A call holds `busy` from before
// it stages the ids until the step is done, so that a second thread cannot overwrite them while
// the first steps without the interpreter lock.
struct BoundVectorEnv {
  BoundVectorEnv(std::size_t envs, std::size_t players, std::optional<std::uint64_t> seed,
                 std::size_t threads)
      : env(envs, players, seed, threads), actions(envs) {}
  OneCaller claim() { return OneCaller(busy, "VectorEnv is already in use by another thread"); }
  VectorEnv env;
  std::vector<std::int64_t> actions;
  std::atomic<bool> busy{false};
};

template <typename T>
std::int64_t read_id(const std::uint8_t* base, std::int64_t offset) {
  T value;
  std::memcpy(&value, base + offset, sizeof(T));
  if constexpr (std::is_unsigned_v<T> && sizeof(T) == 8) {
    // Beyond every id anyway: kept large rather than wrapped into a negative number.
    if (value > static_cast<T>(std::numeric_limits<std::int64_t>::max())) {
      return std::numeric_limits<std::int64_t>::max();
    }
  }
  return static_cast<std::int64_t>(value);
}

// Copies a 1-D array of integer ids of any integer dtype (or anything numpy turns into one)
// into `out`. ValueError for another shape or a non-integer dtype.
void read_actions(nb::handle object, std::vector<std::int64_t>& out) {
  nb::ndarray<nb::ro, nb::device::cpu> array;
  nb::object converted;
  if (!nb::try_cast(object, array, false)) {
    converted = nb::module_::import_("numpy").attr("asarray")(object);
    if (!nb::try_cast(converted, array, false)) {
      throw nb::value_error("actions must be a 1-D array of integer action ids");
    }
  }
  const std::size_t n = out.size();
  if (array.ndim() != 1 || array.shape(0) != n) {
    std::string shape;
    for (std::size_t d = 0; d < array.ndim(); ++d) {
      shape += (d == 0 ? "" : ", ") + std::to_string(array.shape(d));
    }
    shape = "(" + shape + (array.ndim() == 1 ? ",)" : ")");
    throw nb::value_error(
        ("actions must have shape (" + std::to_string(n) + ",), got " + shape).c_str());
  }
  const auto dtype = array.dtype();
  const bool is_int = dtype.code == static_cast<std::uint8_t>(nb::dlpack::dtype_code::Int);
  const bool is_uint = dtype.code == static_cast<std::uint8_t>(nb::dlpack::dtype_code::UInt);
  if ((!is_int && !is_uint) || dtype.lanes != 1) {
    throw nb::value_error("actions must be integer action ids, not an array of another dtype");
  }
  const auto* base = static_cast<const std::uint8_t*>(array.data());
  const std::int64_t step = array.stride(0) * static_cast<std::int64_t>(array.itemsize());
  for (std::size_t i = 0; i < n; ++i) {
    const std::int64_t at = static_cast<std::int64_t>(i) * step;
    switch (dtype.bits) {
      case 8:
        out[i] = is_int ? read_id<std::int8_t>(base, at) : read_id<std::uint8_t>(base, at);
        break;
      case 16:
        out[i] = is_int ? read_id<std::int16_t>(base, at) : read_id<std::uint16_t>(base, at);
        break;
      case 32:
        out[i] = is_int ? read_id<std::int32_t>(base, at) : read_id<std::uint32_t>(base, at);
        break;
      case 64:
        out[i] = is_int ? read_id<std::int64_t>(base, at) : read_id<std::uint64_t>(base, at);
        break;
      default:
        throw nb::value_error("actions must be integer action ids of 8 to 64 bits");
    }
  }
}

// The env's own buffers, handed out without a copy; each keeps the env alive.
nb::tuple outputs(BoundVectorEnv& self, bool with_step_results) {
  VectorEnv& env = self.env;
  nb::handle owner = nb::find(&self);
  const std::size_t n = env.num_envs();
  Matrix observations(env.observations(), {n, kObservationSize}, owner);
  MaskMatrix masks(env.masks(), {n, kNumActions}, owner);
  if (!with_step_results) return nb::make_tuple(observations, masks);
  Vector rewards(env.rewards(), {n}, owner);
  nb::ndarray<nb::numpy, bool, nb::ndim<1>> terminations(env.terminations(), {n}, owner);
  return nb::make_tuple(observations, masks, rewards, terminations);
}

}  // namespace
}  // namespace vardelic::rl

NB_MODULE(_vardelic_rl, m) {
  using namespace vardelic;
  using namespace vardelic::rl;
  m.doc() = "Native core of vardelic_rl: action ids, observations, games and batches.";
  m.attr("NUM_ACTIONS") = kNumActions;
  m.attr("OBSERVATION_SIZE") = kObservationSize;
  m.attr("YIELD") = kYieldId;
  m.attr("REFILL_HAND") = kRefillHandId;
  m.attr("CHANGE_PLAYER") = kChangePlayerId;
  nb::list layout;
  for (const ObservationField& f : kObservationLayout) {
    layout.append(nb::make_tuple(std::string(f.name), f.offset, f.length, std::string(f.meaning)));
  }
  m.attr("OBSERVATION_LAYOUT") = nb::tuple(layout);

  enum class Result { Won = 0, Lost = 1 };
  nb::enum_<Result>(m, "Result", nb::is_arithmetic(),
                    "A finished game's result; equal to vardelic's GameResult of the same kind.")
      .value("Won", Result::Won)
      .value("Lost", Result::Lost);

  nb::class_<AnyEpisode>(m, "Game", "Game(num_players, seed=None): one game stepped by action id.")
      .def(
          "__init__",
          [](AnyEpisode* self, long long num_players, nb::handle seed) {
            new (self) AnyEpisode(to_players(num_players), to_seed(seed));
          },
          "num_players"_a, "seed"_a = nb::none())
      .def_prop_ro("num_players", &AnyEpisode::num_players)
      .def(
          "observation",
          [](const AnyEpisode& self, long long player) {
            if (player < 0 || player >= static_cast<long long>(self.num_players())) {
              throw nb::value_error(("player " + std::to_string(player) + " is not at a table of " +
                                     std::to_string(self.num_players()))
                                        .c_str());
            }
            auto out = new_array<float>(kObservationSize);
            self.write_observation(static_cast<std::size_t>(player), out.data());
            return out;
          },
          "player"_a, "The observation of `player` (0 .. num_players - 1), a new float32 array.")
      .def(
          "action_mask",
          [](const AnyEpisode& self) {
            auto out = new_array<std::int8_t>(kNumActions);
            self.write_mask(out.data());
            return out;
          },
          "1 at the legal action ids of the player to move (all 0 once the game is over).")
      .def("current_player", &AnyEpisode::current_player, "The player to move.")
      .def(
          "step",
          [](AnyEpisode& self, nb::handle action_id) { return self.step(to_id(action_id)); },
          "action_id"_a,
          "Plays a legal action id; returns the enemies it defeated. ValueError for an id that "
          "is not legal, and nothing changes.")
      .def_prop_ro("done", &AnyEpisode::done)
      .def_prop_ro("reward", &AnyEpisode::reward, "Enemies defeated so far; 12 after a win.")
      .def_prop_ro(
          "result",
          [](const AnyEpisode& self) -> nb::object {
            const auto result = self.result();
            if (!result) return nb::none();
            return nb::cast(result->won() ? Result::Won : Result::Lost);
          },
          "None while the game goes on, then Result.Won or Result.Lost.")
      .def(
          "legal_actions",
          [](const AnyEpisode& self) {
            nb::dict out;
            const LegalActions& legal = self.legal();
            for (std::int16_t id : legal.ids()) out[nb::int_(id)] = action_object(legal.action(id));
            return out;
          },
          "{id: action} for every legal id, in the game's order of actions; the actions are "
          "vardelic's action objects.")
      .def(
          "state",
          [](const AnyEpisode& self) { return python::shared::state_object(self.state()); },
          "The position as a vardelic PyState (a copy).")
      .def("__str__", &AnyEpisode::text)
      .def("__repr__", [](const AnyEpisode& self) {
        return "Game(num_players=" + std::to_string(self.num_players()) +
               ", current_player=" + std::to_string(self.current_player()) +
               ", reward=" + std::to_string(self.reward()) +
               ", done=" + (self.done() ? "True" : "False") + ")";
      });

  nb::class_<BoundVectorEnv>(
      m, "VectorEnv",
      "VectorEnv(num_envs, num_players, seed=None, num_threads=1): the native batch of games,\n"
      "stepped in C++ and handing out its own arrays. It is no Gymnasium environment:\n"
      "vardelic_rl.VardelicVectorEnv wraps it as a gymnasium.vector.VectorEnv.")
      .def(
          "__init__",
          [](BoundVectorEnv* self, long long num_envs, long long num_players, nb::handle seed,
             long long num_threads) {
            new (self) BoundVectorEnv(to_count(num_envs, "num_envs"), to_players(num_players),
                                      to_seed(seed), to_count(num_threads, "num_threads"));
          },
          "num_envs"_a, "num_players"_a, "seed"_a = nb::none(), "num_threads"_a = 1)
      .def_prop_ro("num_envs", [](BoundVectorEnv& self) { return self.env.num_envs(); })
      .def_prop_ro("num_players", [](BoundVectorEnv& self) { return self.env.num_players(); })
      .def_prop_ro("num_threads", [](BoundVectorEnv& self) { return self.env.num_threads(); })
      .def(
          "reset",
          [](BoundVectorEnv& self, nb::handle seed) {
            const auto value = to_seed(seed);
            OneCaller claim = self.claim();
            {
              nb::gil_scoped_release release;
              self.env.reset(value);
            }
            return outputs(self, false);
          },
          "seed"_a = nb::none(),
          "Starts new episodes; returns (observations, masks), the env's own arrays.")
      .def(
          "step",
          [](BoundVectorEnv& self, nb::handle actions) {
            OneCaller claim = self.claim();
            read_actions(actions, self.actions);
            {
              nb::gil_scoped_release release;
              self.env.step(self.actions);
            }
            return outputs(self, true);
          },
          "actions"_a,
          "Plays one action id per game; returns (observations, masks, rewards, terminations), "
          "the env's own arrays, overwritten by the next call.")
      .def(
          "current_players",
          [](BoundVectorEnv& self) {
            return nb::ndarray<nb::numpy, std::int64_t, nb::ndim<1>>(
                self.env.players(), {self.env.num_envs()}, nb::find(&self));
          },
          "The player to move in each game (the env's own array).")
      .def(
          "seeds",
          [](BoundVectorEnv& self) {
            return nb::ndarray<nb::numpy, std::uint64_t, nb::ndim<1>>(
                self.env.seeds(), {self.env.num_envs()}, nb::find(&self));
          },
          "The seed of each game's current episode (the env's own array).")
      .def(
          "final_observations",
          [](BoundVectorEnv& self) {
            return Matrix(self.env.final_observations(), {self.env.num_envs(), kObservationSize},
                          nb::find(&self));
          },
          "Where the last step ended a game, its last position from the view of the player who "
          "moved (the env's own array; other rows are stale).");

  m.def(
      "encode", [](nb::handle state) { return encode_episode(AnyEpisode(state_of(state))); },
      "state"_a, "(observation, mask) of a vardelic PyState, for its player to move.");
  m.def(
      "to_action",
      [](nb::handle state, nb::handle action_id) {
        const AnyEpisode episode(state_of(state));
        const std::int64_t id = to_id(action_id);
        if (!episode.legal().is_legal(id)) {
          throw nb::value_error(episode.illegal_message(id).c_str());
        }
        return action_object(episode.legal().action(id));
      },
      "state"_a, "action_id"_a, "The vardelic action object of a legal id of a PyState.");

  bind_records(m);
  bind_view(m);
}

// vardelic_agents._native: ISMCTSPlayer (and ClairvoyantPlayer, the same search without the
// re-deal) as Python player objects. `play` copies the game state
// out of the PyState through vardelic's capsule, searches without the interpreter lock, and
// answers with the action object vardelic itself would make.

#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include <cmath>
#include <cstdint>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

#include "agents/ismcts_player.h"
#include "python/capi/vardelic_capi.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

using vardelic::agents::ISMCTSPlayer;
using vardelic::agents::ISMCTSSettings;
using vardelic::agents::Redeal;
using vardelic::agents::RolloutPolicy;
using vardelic::game::Action;
using vardelic::game::StateEnum;

// Set once when the module is imported. The references are kept for the life of the process:
// the module cannot be unloaded while objects it made may still hand out actions.
const vardelic::python::CApi* g_api = nullptr;
PyObject* g_vardelic = nullptr;

// kClairvoyant: the ClairvoyantPlayer class, a type of its own so that it is no ISMCTSPlayer.
template <bool kClairvoyant>
class PlayerObject {
 public:
  static constexpr const char* kName = kClairvoyant ? "ClairvoyantPlayer" : "ISMCTSPlayer";

  explicit PlayerObject(const ISMCTSSettings& settings) : player_(settings) {}

  nb::object play(nb::handle state) {
    StateEnum copy;
    if (g_api->copy_state(state.ptr(), &copy) != 0) throw nb::python_error();
    std::unique_lock lock = claim();
    std::optional<Action> action;
    {
      nb::gil_scoped_release release;
      action = player_.play(copy);
    }
    return new_action(*action);
  }

  nb::list ranked_actions() {
    std::unique_lock lock = claim();
    nb::list out;
    for (const auto& entry : player_.ranked_actions()) {
      out.append(nb::make_tuple(new_action(entry.action), entry.visits, entry.avg_reward));
    }
    return out;
  }

  nb::dict last_decision() {
    std::unique_lock lock = claim();
    const auto& info = player_.last_decision();
    nb::dict out;
    out["iterations"] = info.iterations;
    out["reused_visits"] = info.reused_visits;
    out["milliseconds"] = info.milliseconds;
    return out;
  }

  std::string repr() const {
    const ISMCTSSettings& s = player_.settings();
    std::ostringstream out;
    out << kName << "(";
    if (s.time_ms) out << "time_ms=" << *s.time_ms << ", ";
    if (s.iterations) out << "iterations=" << *s.iterations << ", ";
    out << "threads=" << s.threads << ", ";
    if (s.seed) out << "seed=" << *s.seed << ", ";
    out << "exploration=" << s.exploration << ", rollout='"
        << (s.rollout == RolloutPolicy::Heuristic ? "heuristic" : "random")
        << "', epsilon=" << s.epsilon << ", widening=" << (s.widening ? "True" : "False")
        << ", reuse=" << (s.reuse ? "True" : "False");
    if (!kClairvoyant)
      out << ", redeal='" << (s.redeal == Redeal::Pooled ? "pooled" : "hidden") << "'";
    out << ")";
    return out.str();
  }

 private:
  // The player decides for one caller at a time; a second caller (another thread, while the
  // first searches without the interpreter lock) is refused rather than made to wait.
  std::unique_lock<std::mutex> claim() {
    std::unique_lock lock(busy_, std::try_to_lock);
    if (!lock.owns_lock()) {
      throw std::runtime_error(std::string("this ") + kName + " is already deciding");
    }
    return lock;
  }

  static nb::object new_action(const Action& action) {
    PyObject* object = g_api->new_action(g_vardelic, &action);
    if (object == nullptr) throw nb::python_error();
    return nb::steal(object);
  }

  ISMCTSPlayer player_;
  std::mutex busy_;
};

std::uint64_t to_u64(nb::handle value, const char* name) {
  if (!PyLong_Check(value.ptr())) {
    throw nb::type_error((std::string(name) + " must be an int or None").c_str());
  }
  unsigned long long number = PyLong_AsUnsignedLongLong(value.ptr());
  if (number == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    throw std::invalid_argument(std::string(name) + " must be between 0 and 2**64 - 1");
  }
  return number;
}

ISMCTSSettings make_settings(std::optional<double> time_ms, nb::handle iterations,
                             std::int64_t threads, nb::handle seed, double exploration,
                             const std::string& rollout, double epsilon, bool widening, bool reuse,
                             const std::string& redeal) {
  ISMCTSSettings s;
  s.time_ms = time_ms;
  if (!iterations.is_none()) {
    s.iterations = to_u64(iterations, "iterations");
    if (*s.iterations == 0) throw std::invalid_argument("iterations must be at least 1");
  }
  if (threads < 1) throw std::invalid_argument("threads must be at least 1");
  s.threads = static_cast<std::size_t>(threads);
  if (!seed.is_none()) s.seed = to_u64(seed, "seed");
  s.exploration = exploration;
  if (rollout == "heuristic") {
    s.rollout = RolloutPolicy::Heuristic;
  } else if (rollout == "random") {
    s.rollout = RolloutPolicy::Random;
  } else {
    throw std::invalid_argument("rollout must be 'heuristic' or 'random', not '" + rollout + "'");
  }
  s.epsilon = epsilon;
  s.widening = widening;
  s.reuse = reuse;
  if (redeal == "hidden") {
    s.redeal = Redeal::Hidden;
  } else if (redeal == "pooled") {
    s.redeal = Redeal::Pooled;
  } else if (redeal == "none") {  // only ClairvoyantPlayer asks for it
    s.redeal = Redeal::None;
  } else {
    throw std::invalid_argument("redeal must be 'hidden' or 'pooled', not '" + redeal + "'");
  }
  return s;
}

constexpr const char* kClassDoc = R"(Information-set Monte-Carlo tree search player.

One tree over what its player can see: every iteration deals the hidden cards
again, descends only through actions legal in that deal (UCB1 with availability
counts), adds one node and finishes the game with a rollout policy.

Budget: time_ms (wall time per decision) and iterations, whichever runs out
first; with neither, 2000 iterations. With threads=1 and a seed, decisions under
an iteration budget are reproducible.

Settings (keyword only):
  time_ms      milliseconds per decision, or None
  iterations   iterations per decision over all threads, or None
  threads      search threads, each with a tree of its own (default 1)
  seed         seed of the decisions' generator, or None for fresh entropy
  exploration  UCB1 constant on scores scaled to [0, 1] (default 0.5)
  rollout      'heuristic' (default) or 'random' rollouts
  epsilon      share of random moves in heuristic rollouts (default 0.1)
  widening     progressive widening in heuristic order (default True)
  reuse        keep the subtree of the action played (default True)
  redeal       'hidden' (default): deal again what the seat cannot see, keeping
               the face-up discard pile; 'pooled': pool the discard pile with
               the hidden cards too (the earlier re-deal, kept for comparison)
)";

constexpr const char* kClairvoyantDoc = R"(A yardstick, not a player for people: it sees every card.

The ISMCTSPlayer search without the re-deal: every iteration plays the true state
it is given (every hand, the deck order and the seed of the rules' random steps),
so it knows what the other players hold and what will be drawn. Its results bound
what the honest ISMCTSPlayer could reach with the same budget; never seat it
where hidden cards should stay hidden.

Budget and settings (keyword only) as ISMCTSPlayer, without redeal:
  time_ms, iterations, threads, seed, exploration, rollout, epsilon, widening, reuse
)";

// The methods both classes share.
template <bool kClairvoyant>
void def_methods(nb::class_<PlayerObject<kClairvoyant>>& cls) {
  using Object = PlayerObject<kClairvoyant>;
  cls.def("play", &Object::play, "state"_a,
          "Choose an action for the player to move in the given state.")
      .def("ranked_actions", &Object::ranked_actions,
           "The last decision's candidates as (action, visits, avg_reward), most visited first;\n"
           "the first is what play() returned. Empty before the first decision.")
      .def("last_decision", &Object::last_decision,
           "What the last decision spent: iterations, reused_visits and milliseconds.")
      .def("__repr__", &Object::repr);
}

}  // namespace

NB_MODULE(_native, m) {
  g_vardelic = PyImport_ImportModule("vardelic");
  if (g_vardelic == nullptr) throw nb::python_error();
  g_api = vardelic::python::ImportCApi();
  if (g_api == nullptr) throw nb::python_error();

  nb::class_<PlayerObject<false>> ismcts(m, "ISMCTSPlayer", kClassDoc);
  ismcts.def(
      "__init__",
      [](PlayerObject<false>* self, std::optional<double> time_ms, nb::handle iterations,
         std::int64_t threads, nb::handle seed, double exploration, const std::string& rollout,
         double epsilon, bool widening, bool reuse, const std::string& redeal) {
        if (redeal == "none") {
          throw std::invalid_argument("redeal must be 'hidden' or 'pooled', not 'none'");
        }
        new (self)
            PlayerObject<false>(make_settings(time_ms, iterations, threads, seed, exploration,
                                              rollout, epsilon, widening, reuse, redeal));
      },
      nb::sig("def __init__(self, *, time_ms: float | None = None, iterations: int | None = "
              "None, threads: int = 1, seed: int | None = None, exploration: float = 0.5, "
              "rollout: str = 'heuristic', epsilon: float = 0.1, widening: bool = True, "
              "reuse: bool = True, redeal: str = 'hidden') -> None"),
      nb::kw_only(), "time_ms"_a = nb::none(), "iterations"_a = nb::none(), "threads"_a = 1,
      "seed"_a = nb::none(), "exploration"_a = 0.5, "rollout"_a = "heuristic", "epsilon"_a = 0.1,
      "widening"_a = true, "reuse"_a = true, "redeal"_a = "hidden");
  def_methods(ismcts);

  nb::class_<PlayerObject<true>> clairvoyant(m, "ClairvoyantPlayer", kClairvoyantDoc);
  clairvoyant.def(
      "__init__",
      [](PlayerObject<true>* self, std::optional<double> time_ms, nb::handle iterations,
         std::int64_t threads, nb::handle seed, double exploration, const std::string& rollout,
         double epsilon, bool widening, bool reuse) {
        new (self) PlayerObject<true>(make_settings(time_ms, iterations, threads, seed, exploration,
                                                    rollout, epsilon, widening, reuse, "none"));
      },
      nb::sig("def __init__(self, *, time_ms: float | None = None, iterations: int | None = "
              "None, threads: int = 1, seed: int | None = None, exploration: float = 0.5, "
              "rollout: str = 'heuristic', epsilon: float = 0.1, widening: bool = True, "
              "reuse: bool = True) -> None"),
      nb::kw_only(), "time_ms"_a = nb::none(), "iterations"_a = nb::none(), "threads"_a = 1,
      "seed"_a = nb::none(), "exploration"_a = 0.5, "rollout"_a = "heuristic", "epsilon"_a = 0.1,
      "widening"_a = true, "reuse"_a = true);
  def_methods(clairvoyant);
}

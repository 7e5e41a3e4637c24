// vardelic_agents._native: ISMCTSPlayer as a Python player object. `play` copies the game state
// out of the PyState through vardelic's capsule, searches without the interpreter lock, and
// answers with the action object vardelic itself would make.

#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include <cmath>
#include <cstdint>
#include <atomic>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

#include "agents/ismcts_player.h"
#include "python/capi/nanobind_shared.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

using vardelic::agents::ISMCTSPlayer;
using vardelic::agents::ISMCTSSettings;
using vardelic::agents::RolloutPolicy;
using vardelic::game::Action;
using vardelic::game::StateEnum;
using vardelic::python::shared::action_object;
using vardelic::python::shared::OneCaller;

class PlayerObject {
 public:
  explicit PlayerObject(const ISMCTSSettings& settings) : player_(settings) {}

  nb::object play(nb::handle state) {
    const StateEnum copy = vardelic::python::shared::state_of(state);
    OneCaller claim = this->claim();
    std::optional<Action> action;
    {
      nb::gil_scoped_release release;
      action = player_.play(copy);
    }
    return action_object(*action);
  }

  nb::list ranked_actions() {
    OneCaller claim = this->claim();
    nb::list out;
    for (const auto& entry : player_.ranked_actions()) {
      out.append(nb::make_tuple(action_object(entry.action), entry.visits, entry.avg_reward));
    }
    return out;
  }

  nb::dict last_decision() {
    OneCaller claim = this->claim();
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
    out << "ISMCTSPlayer(";
    if (s.time_ms) out << "time_ms=" << *s.time_ms << ", ";
    if (s.iterations) out << "iterations=" << *s.iterations << ", ";
    out << "threads=" << s.threads << ", ";
    if (s.seed) out << "seed=" << *s.seed << ", ";
    out << "exploration=" << s.exploration << ", rollout='"
        << (s.rollout == RolloutPolicy::Heuristic ? "heuristic" : "random")
        << "', epsilon=" << s.epsilon << ", widening=" << (s.widening ? "True" : "False")
        << ", reuse=" << (s.reuse ? "True" : "False") << ")";
    return out.str();
  }

 private:
  // The player decides for one caller at a time; a second caller (another thread, while the
  // first searches without the interpreter lock) is refused rather than made to wait.
  OneCaller claim() { return OneCaller(busy_, "ISMCTSPlayer is already deciding"); }

  ISMCTSPlayer player_;
  std::atomic<bool> busy_{false};
};

ISMCTSSettings make_settings(std::optional<double> time_ms, nb::handle iterations,
                             std::int64_t threads, nb::handle seed, double exploration,
                             const std::string& rollout, double epsilon, bool widening,
                             bool reuse) {
  ISMCTSSettings s;
  s.time_ms = time_ms;
  if (!iterations.is_none()) {
    s.iterations = vardelic::python::shared::to_u64(iterations, "iterations");
    if (*s.iterations == 0) throw std::invalid_argument("iterations must be at least 1");
  }
  if (threads < 1) throw std::invalid_argument("threads must be at least 1");
  s.threads = static_cast<std::size_t>(threads);
  s.seed = vardelic::python::shared::to_seed(seed);
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
)";

}  // namespace

NB_MODULE(_native, m) {
  vardelic::python::shared::vardelic_module();  // a player needs vardelic: import it now

  nb::class_<PlayerObject>(m, "ISMCTSPlayer", kClassDoc)
      .def(
          "__init__",
          [](PlayerObject* self, std::optional<double> time_ms, nb::handle iterations,
             std::int64_t threads, nb::handle seed, double exploration, const std::string& rollout,
             double epsilon, bool widening, bool reuse) {
            new (self) PlayerObject(make_settings(time_ms, iterations, threads, seed, exploration,
                                                  rollout, epsilon, widening, reuse));
          },
          nb::sig("def __init__(self, *, time_ms: float | None = None, iterations: int | None = "
                  "None, threads: int = 1, seed: int | None = None, exploration: float = 0.5, "
                  "rollout: str = 'heuristic', epsilon: float = 0.1, widening: bool = True, "
                  "reuse: bool = True) -> None"),
          nb::kw_only(), "time_ms"_a = nb::none(), "iterations"_a = nb::none(), "threads"_a = 1,
          "seed"_a = nb::none(), "exploration"_a = 0.5, "rollout"_a = "heuristic",
          "epsilon"_a = 0.1, "widening"_a = true, "reuse"_a = true)
      .def("play", &PlayerObject::play, "state"_a,
           "Choose an action for the player to move in the given state.")
      .def("ranked_actions", &PlayerObject::ranked_actions,
           "The last decision's candidates as (action, visits, avg_reward), most visited first;\n"
           "the first is what play() returned. Empty before the first decision.")
      .def("last_decision", &PlayerObject::last_decision,
           "What the last decision spent: iterations, reused_visits and milliseconds.")
      .def("__repr__", &PlayerObject::repr);
}

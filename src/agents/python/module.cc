// vardelic_agents._native: ISMCTSPlayer (and ClairvoyantPlayer, its yardstick) as Python player
// objects. `play` copies the game state
// out of the PyState through vardelic's capsule, searches without the interpreter lock, and
// answers with the action object vardelic itself would make.

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <ranges>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>

#include "agents/ismcts_player.h"
#include "python/capsule/nanobind_shared.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

using vardelic::agents::Branch;
using vardelic::agents::Heuristic;
using vardelic::agents::ISMCTSPlayer;
using vardelic::agents::ISMCTSSettings;
using vardelic::agents::PartnerModel;
using vardelic::agents::Redeal;
using vardelic::agents::RolloutPolicy;
using vardelic::game::Action;
using vardelic::game::StateEnum;
using vardelic::python::shared::action_object;
using vardelic::python::shared::OneCaller;

// kClairvoyant: the ClairvoyantPlayer class, a type of its own so that it is no ISMCTSPlayer.
template <bool kClairvoyant>
class PlayerObject {
 public:
  static constexpr const char* kName = kClairvoyant ? "ClairvoyantPlayer" : "ISMCTSPlayer";

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

  const ISMCTSSettings& settings() const { return player_.settings(); }

 private:
  // The player decides for one caller at a time; a second caller (another thread, while the
  // first searches without the interpreter lock) is refused rather than made to wait.
  OneCaller claim() {
    return OneCaller(busy_, kClairvoyant ? "ClairvoyantPlayer is already deciding"
                                         : "ISMCTSPlayer is already deciding");
  }

  ISMCTSPlayer player_;
  std::atomic<bool> busy_{false};
};

// ---- The settings ---------------------------------------------------------------------------
// One row per constructor keyword, in the constructor's order: its name, Python type, what it
// accepts and its help text, how a value is read into ISMCTSSettings and read back. The
// keywords, the signature, the defaults (read back from a default ISMCTSSettings), the
// docstring, repr() and ISMCTSPlayer.SETTINGS (which vardelic-arena's ismcts(...) seat reads)
// all come from this table. ISMCTSPlayer's own checks (ismcts_player.cc) refuse what lies
// outside the ranges.

[[noreturn]] void refuse(const char* name, const char* expected, nb::handle value) {
  throw nb::type_error((std::string("ISMCTSPlayer(): incompatible function arguments: ") + name +
                        " must be " + expected + ", not " + nb::type_name(value.type()).c_str())
                           .c_str());
}

double read_float(const char* name, nb::handle value) {
  if (PyBool_Check(value.ptr()) || !(PyFloat_Check(value.ptr()) || PyIndex_Check(value.ptr()))) {
    refuse(name, "a number", value);
  }
  const double number = PyFloat_AsDouble(value.ptr());
  if (number == -1.0 && PyErr_Occurred()) throw nb::python_error();
  return number;
}

std::optional<double> read_optional_float(const char* name, nb::handle value) {
  if (value.is_none()) return std::nullopt;
  return read_float(name, value);
}

bool read_bool(const char* name, nb::handle value) {
  if (!PyBool_Check(value.ptr())) refuse(name, "True or False", value);
  return value.ptr() == Py_True;
}

std::optional<std::uint64_t> read_count(const char* name, nb::handle value) {
  const auto count = vardelic::python::shared::to_u64(value, name);
  if (count && *count == 0) {
    throw nb::value_error((std::string(name) + " must be at least 1").c_str());
  }
  return count;
}

// Below 1: refused here; above the most threads: left for ISMCTSPlayer's own check.
std::size_t read_threads(nb::handle value) {
  if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr())) refuse("threads", "an int", value);
  nb::object number = nb::steal(PyNumber_Index(value.ptr()));
  if (!number) throw nb::python_error();
  int overflow = 0;
  const long long threads = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (threads == -1 && PyErr_Occurred()) throw nb::python_error();
  if (overflow < 0 || (overflow == 0 && threads < 1)) {
    throw nb::value_error("threads must be at least 1");
  }
  constexpr std::size_t kTooMany = ISMCTSPlayer::kMaxThreads + 1;
  return overflow > 0 ? kTooMany : std::min(static_cast<std::size_t>(threads), kTooMany);
}

nb::object none_or(const auto& value) { return value ? nb::cast(*value) : nb::none(); }

// A setting that takes one of two names, each standing for a value of E.
template <class E>
using Choices = std::pair<const char*, E>[2];

constexpr Choices<RolloutPolicy> kRollouts = {{"heuristic", RolloutPolicy::Heuristic},
                                              {"random", RolloutPolicy::Random}};
constexpr Choices<PartnerModel> kPartners = {{"search", PartnerModel::Search},
                                             {"heuristic", PartnerModel::Heuristic}};
constexpr Choices<Branch> kBranches = {{"none", Branch::None}, {"enemy", Branch::Enemy}};
constexpr Choices<Redeal> kRedeals = {{"hidden", Redeal::Hidden}, {"pooled", Redeal::Pooled}};
constexpr Choices<Heuristic> kHeuristics = {{"first", Heuristic::First},
                                            {"tuned", Heuristic::Tuned}};
constexpr Choices<Redeal> kSees = {{"all", Redeal::None}, {"hands", Redeal::Decks}};

template <class E>
E read_choice(const char* name, nb::handle value, const Choices<E>& choices) {
  if (!PyUnicode_Check(value.ptr())) refuse(name, "a str", value);
  const std::string text = nb::cast<std::string>(value);
  for (const auto& [choice, meaning] : choices) {
    if (text == choice) return meaning;
  }
  throw nb::value_error((std::string(name) + " must be '" + choices[0].first + "' or '" +
                         choices[1].first + "', not '" + text + "'")
                            .c_str());
}

// The name of `meaning`; the first choice's for a value no choice names (a clairvoyant's
// redeal, which `sees` reads instead).
template <class E>
nb::object choice_name(E meaning, const Choices<E>& choices) {
  for (const auto& [choice, e] : choices) {
    if (e == meaning) return nb::cast(choice);
  }
  return nb::cast(choices[0].first);
}

struct Setting {
  const char* name;
  const char* type;   // as the signature writes it
  const char* check;  // what it accepts, for the help texts
  const char* help;
  void (*read)(ISMCTSSettings&, nb::handle);
  nb::object (*get)(const ISMCTSSettings&);
  enum class Takes : std::uint8_t { Both, Honest, Clairvoyant } takes = Takes::Both;
};

static_assert(ISMCTSPlayer::kMaxThreads == 256 && ISMCTSPlayer::kDefaultIterations == 2000 &&
                  vardelic::game::kEnemies == 12,
              "the help texts below name these numbers");

const Setting kSettings[] = {
    {"time_ms", "float | None", "a positive number, or None", "wall time per decision",
     [](ISMCTSSettings& s, nb::handle v) { s.time_ms = read_optional_float("time_ms", v); },
     [](const ISMCTSSettings& s) { return none_or(s.time_ms); }},
    {"iterations", "int | None", "at least 1, or None",
     "iterations per decision over all threads; with neither budget, 2000",
     [](ISMCTSSettings& s, nb::handle v) { s.iterations = read_count("iterations", v); },
     [](const ISMCTSSettings& s) { return none_or(s.iterations); }},
    {"threads", "int", "1 to 256",
     "search threads, each with a tree of its own; their root statistics are pooled",
     [](ISMCTSSettings& s, nb::handle v) { s.threads = read_threads(v); },
     [](const ISMCTSSettings& s) { return nb::cast(s.threads); }},
    {"seed", "int | None", "0 to 2**64 - 1, or None",
     "seeds the decisions (None: fresh entropy); under an iteration budget they repeat",
     [](ISMCTSSettings& s, nb::handle v) { s.seed = vardelic::python::shared::to_seed(v); },
     [](const ISMCTSSettings& s) { return none_or(s.seed); }},
    {"exploration", "float", "0 or more", "UCB1 constant, on scores scaled to 0..1",
     [](ISMCTSSettings& s, nb::handle v) { s.exploration = read_float("exploration", v); },
     [](const ISMCTSSettings& s) { return nb::cast(s.exploration); }},
    {"rollout", "str", "'heuristic' or 'random'", "the rollout policy",
     [](ISMCTSSettings& s, nb::handle v) { s.rollout = read_choice("rollout", v, kRollouts); },
     [](const ISMCTSSettings& s) { return choice_name(s.rollout, kRollouts); }},
    {"epsilon", "float", "0 to 1", "share of uniformly random moves in heuristic rollouts",
     [](ISMCTSSettings& s, nb::handle v) { s.epsilon = read_float("epsilon", v); },
     [](const ISMCTSSettings& s) { return nb::cast(s.epsilon); }},
    {"widening", "bool", "True or False", "progressive widening in heuristic order",
     [](ISMCTSSettings& s, nb::handle v) { s.widening = read_bool("widening", v); },
     [](const ISMCTSSettings& s) { return nb::cast(s.widening); }},
    {"reuse", "bool", "True or False", "keep the subtree of the action played",
     [](ISMCTSSettings& s, nb::handle v) { s.reuse = read_bool("reuse", v); },
     [](const ISMCTSSettings& s) { return nb::cast(s.reuse); }},
    {"partners", "str", "'search' or 'heuristic'",
     "how the tree moves for the other seats: 'search' as for its own seat, 'heuristic' by "
     "the rollout policy",
     [](ISMCTSSettings& s, nb::handle v) { s.partners = read_choice("partners", v, kPartners); },
     [](const ISMCTSSettings& s) { return choice_name(s.partners, kPartners); }},
    {"branch", "str", "'none' or 'enemy'",
     "'enemy': below every action the tree tells apart the enemies a kill may reveal, so the "
     "seat's later decisions are made for each of them apart; 'none': one node for them all "
     "(the earlier tree)",
     [](ISMCTSSettings& s, nb::handle v) { s.branch = read_choice("branch", v, kBranches); },
     [](const ISMCTSSettings& s) { return choice_name(s.branch, kBranches); }},
    {"remember", "bool", "True or False",
     "deal the tavern deck as the seat saw it filled: enemies killed exactly on top, the "
     "cards Hearts moved at the bottom",
     [](ISMCTSSettings& s, nb::handle v) { s.remember = read_bool("remember", v); },
     [](const ISMCTSSettings& s) { return nb::cast(s.remember); }},
    {"horizon", "int | None", "1 to 11, or None",
     "rollouts stop after defeating this many enemies and score the position by a fitted "
     "estimate; None: rollouts play to the end",
     [](ISMCTSSettings& s, nb::handle v) {
       // Above 11: kept out of range for ISMCTSPlayer's own check.
       const auto h = read_count("horizon", v);
       s.horizon = h ? std::optional<unsigned>(static_cast<unsigned>(
                           std::min<std::uint64_t>(*h, vardelic::game::kEnemies)))
                     : std::nullopt;
     },
     [](const ISMCTSSettings& s) { return none_or(s.horizon); }},
    {"heuristic", "str", "'first' or 'tuned'",
     "the constants the heuristic judges actions by, in rollouts and expansion order: 'tuned' "
     "on the rollout policy's own games, 'first' as before",
     [](ISMCTSSettings& s, nb::handle v) {
       s.heuristic = read_choice("heuristic", v, kHeuristics);
     },
     [](const ISMCTSSettings& s) { return choice_name(s.heuristic, kHeuristics); }},
    {"redeal", "str", "'hidden' or 'pooled'",
     "'hidden': deal again what the seat cannot see, keeping the face-up discard pile; "
     "'pooled': pool the discard pile with the hidden cards too (the earlier re-deal)",
     [](ISMCTSSettings& s, nb::handle v) { s.redeal = read_choice("redeal", v, kRedeals); },
     [](const ISMCTSSettings& s) { return choice_name(s.redeal, kRedeals); },
     Setting::Takes::Honest},
    {"sees", "str", "'all' or 'hands'",
     "'all': every card; 'hands': the other players' hands only, the decks and the rules' seed "
     "dealt again (what knowing the partners' hands is worth)",
     [](ISMCTSSettings& s, nb::handle v) { s.redeal = read_choice("sees", v, kSees); },
     [](const ISMCTSSettings& s) { return choice_name(s.redeal, kSees); },
     Setting::Takes::Clairvoyant},
};

// The rows a class takes: ClairvoyantPlayer has `sees` instead of `redeal`.
auto settings_of(bool clairvoyant) {
  return std::span(kSettings) | std::views::filter([clairvoyant](const Setting& setting) {
           return setting.takes == Setting::Takes::Both ||
                  setting.takes ==
                      (clairvoyant ? Setting::Takes::Clairvoyant : Setting::Takes::Honest);
         });
}

std::string setting_names(bool clairvoyant) {
  std::string names;
  for (const Setting& setting : settings_of(clairvoyant)) {
    names += (names.empty() ? "" : ", ") + std::string(setting.name);
  }
  return names;
}

ISMCTSSettings make_settings(nb::kwargs kwargs, bool clairvoyant) {
  ISMCTSSettings s;
  if (clairvoyant) s.redeal = Redeal::None;  // what `sees` may narrow
  for (auto [key, value] : kwargs) {
    const std::string name = nb::cast<std::string>(key);
    const Setting* setting = nullptr;
    for (const Setting& row : settings_of(clairvoyant)) {
      if (name == row.name) setting = &row;
    }
    if (setting == nullptr) {
      throw nb::type_error((std::string(clairvoyant ? "ClairvoyantPlayer" : "ISMCTSPlayer") +
                            "(): incompatible function arguments: unknown setting '" + name +
                            "' (the settings are " + setting_names(clairvoyant) + ")")
                               .c_str());
    }
    setting->read(s, value);
  }
  return s;
}

std::string repr_of(const ISMCTSSettings& settings, bool clairvoyant) {
  std::string out = clairvoyant ? "ClairvoyantPlayer(" : "ISMCTSPlayer(";
  bool first = true;
  for (const Setting& setting : settings_of(clairvoyant)) {
    nb::object value = setting.get(settings);
    if (value.is_none()) continue;
    out += (first ? "" : ", ") + std::string(setting.name) + "=" + nb::repr(value).c_str();
    first = false;
  }
  return out + ")";
}

// "def __init__(self, *, time_ms: float | None = None, ...) -> None", from the table.
std::string init_signature(bool clairvoyant) {
  const ISMCTSSettings defaults;
  std::string text = "def __init__(self, *";
  for (const Setting& setting : settings_of(clairvoyant)) {
    text += ", " + std::string(setting.name) + ": " + setting.type + " = " +
            nb::repr(setting.get(defaults)).c_str();
  }
  return text + ") -> None";
}

// "  name = default: help (check)" for each setting the class takes.
std::string settings_doc(bool clairvoyant) {
  const ISMCTSSettings defaults;
  std::string text;
  for (const Setting& setting : settings_of(clairvoyant)) {
    text += "  " + std::string(setting.name) + " = " + nb::repr(setting.get(defaults)).c_str() +
            ": " + setting.help + " (" + setting.check + ")\n";
  }
  return text;
}

const char* class_doc() {
  static const std::string doc = [] {
    std::string text = R"(Information-set Monte-Carlo tree search player.

One tree over what its player can see: every iteration deals the hidden cards
again, descends only through actions legal in that deal (UCB1 with availability
counts), adds one node and finishes the game with a rollout policy.

Budget: time_ms (wall time per decision) and iterations, whichever runs out
first; with neither, 2000 iterations. With threads=1 and a seed, decisions under
an iteration budget are reproducible.

Settings (keyword only; ISMCTSPlayer.SETTINGS lists them):
)";
    return text + settings_doc(false);
  }();
  return doc.c_str();
}

const char* clairvoyant_doc() {
  static const std::string doc =
      std::string(R"(A yardstick, not a player for people: it sees every card.

The ISMCTSPlayer search without the re-deal: every iteration plays the true state
it is given (every hand, the deck order and the seed of the rules' random steps),
so it knows what the other players hold and what will be drawn. Its results bound
what the honest ISMCTSPlayer could reach with the same budget; never seat it
where hidden cards should stay hidden.

Budget and settings (keyword only) as ISMCTSPlayer, with sees instead of redeal:
)") + settings_doc(true);
  return doc.c_str();
}

// ISMCTSPlayer.SETTINGS: a tuple of Setting(name, type, default, check, help) named tuples
// (the class is the module's `Setting`, so that rows pickle).
nb::tuple settings_table(nb::module_& module) {
  nb::object row = nb::module_::import_("collections")
                       .attr("namedtuple")("Setting", "name type default check help",
                                           "module"_a = "vardelic_agents._native");
  module.attr("Setting") = row;
  const ISMCTSSettings defaults;
  nb::list rows;
  for (const Setting& setting : settings_of(false)) {
    rows.append(
        row(setting.name, setting.type, setting.get(defaults), setting.check, setting.help));
  }
  return nb::tuple(rows);
}

// The constructor and methods both classes share.
template <bool kClairvoyant>
void def_player(nb::class_<PlayerObject<kClairvoyant>>& cls) {
  using Object = PlayerObject<kClairvoyant>;
  static const std::string signature = init_signature(kClairvoyant);
  cls.def(
         "__init__",
         [](Object* self, nb::kwargs kwargs) {
           new (self) Object(make_settings(kwargs, kClairvoyant));
         },
         nb::sig(signature.c_str()))
      .def("play", &Object::play, "state"_a,
           "Choose an action for the player to move in the given state.")
      .def("ranked_actions", &Object::ranked_actions,
           "The last decision's candidates as (action, visits, avg_reward), most visited first;\n"
           "the first is what play() returned. Empty before the first decision.")
      .def("last_decision", &Object::last_decision,
           "What the last decision spent: iterations, reused_visits and milliseconds.")
      .def("__repr__", [](const Object& self) { return repr_of(self.settings(), kClairvoyant); });
}

}  // namespace

NB_MODULE(_native, m) {
  vardelic::python::shared::vardelic_module();  // a player needs vardelic: import it now

  nb::class_<PlayerObject<false>> ismcts(m, "ISMCTSPlayer", class_doc());
  ismcts.def_prop_ro_static(
      "SETTINGS", [table = settings_table(m)](nb::handle) { return table; },
      "The settings as Setting(name, type, default, check, help), in the constructor's order.");
  def_player(ismcts);

  nb::class_<PlayerObject<true>> clairvoyant(m, "ClairvoyantPlayer", clairvoyant_doc());
  def_player(clairvoyant);
}

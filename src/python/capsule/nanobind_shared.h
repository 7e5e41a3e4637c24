#pragma once

// What the distribution's nanobind modules (vardelic_rl._vardelic_rl, vardelic_agents._native)
// do alike: read seed-like arguments, refuse a second caller of an object that works without
// the interpreter lock, and reach `vardelic`'s states and actions through its capsule. Only
// nanobind modules include this header; `vardelic` itself is written against the CPython C API.

#include <nanobind/nanobind.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "python/capsule/capsule_api.h"

namespace vardelic::python::shared {

namespace nb = nanobind;

// An unsigned 64-bit argument named `name` (a seed, a count): any integer, numpy's included.
// TypeError for anything else (bool too), ValueError outside [0, 2**64 - 1]. None gives nullopt.
inline std::optional<std::uint64_t> to_u64(nb::handle value, const char* name) {
  if (value.is_none()) return std::nullopt;
  if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr())) {
    throw nb::type_error(
        (std::string(name) + " must be an int or None, not " + nb::type_name(value.type()).c_str())
            .c_str());
  }
  nb::object number = nb::steal(PyNumber_Index(value.ptr()));
  if (!number) throw nb::python_error();
  const unsigned long long result = PyLong_AsUnsignedLongLong(number.ptr());
  if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    throw nb::value_error(
        (std::string(name) + " must be between 0 and 2**64 - 1, got " + nb::str(number).c_str())
            .c_str());
  }
  return result;
}

inline std::optional<std::uint64_t> to_seed(nb::handle seed) { return to_u64(seed, "seed"); }

// Held while one caller uses an object whose work runs without the interpreter lock: a second
// caller (another thread, meanwhile) gets RuntimeError rather than a wait or a data race.
// `what` completes "this ... is already ..." in the message, e.g. "VectorEnv is already in use
// by another thread".
class OneCaller {
 public:
  OneCaller(std::atomic<bool>& busy, const char* what) : busy_(busy) {
    if (busy_.exchange(true, std::memory_order_acquire)) {
      throw std::runtime_error(std::string("this ") + what);
    }
  }
  ~OneCaller() { busy_.store(false, std::memory_order_release); }
  OneCaller(const OneCaller&) = delete;
  OneCaller& operator=(const OneCaller&) = delete;

 private:
  std::atomic<bool>& busy_;
};

// The `vardelic` module and its capsule, imported on first use and kept for the life of the
// process (the interpreter keeps the module itself; objects made here may outlive any import).
struct Vardelic {
  PyObject* module;
  const CapsuleApi* api;
};

inline const Vardelic& vardelic_module() {
  static Vardelic imported{nullptr, nullptr};
  if (imported.api == nullptr) {
    PyObject* module = PyImport_ImportModule("vardelic");
    if (module == nullptr) throw nb::python_error();
    const CapsuleApi* api = ImportCapsuleApi();
    if (api == nullptr) {
      Py_DECREF(module);
      throw nb::python_error();
    }
    imported = {module, api};
  }
  return imported;
}

// The game state held by a PyState (a copy): TypeError for any other object.
inline game::StateEnum state_of(nb::handle object) {
  game::StateEnum state = game::State<1>{};
  if (vardelic_module().api->copy_state(object.ptr(), &state) != 0) throw nb::python_error();
  return state;
}

// The `vardelic.actions` object of an action, as `vardelic` itself hands it out.
inline nb::object action_object(const game::Action& action) {
  PyObject* object = vardelic_module().api->new_action(vardelic_module().module, &action);
  if (object == nullptr) throw nb::python_error();
  return nb::steal(object);
}

// A new PyState holding a copy of `state`.
inline nb::object state_object(const game::StateEnum& state) {
  PyObject* object = vardelic_module().api->new_state(vardelic_module().module, &state);
  if (object == nullptr) throw nb::python_error();
  return nb::steal(object);
}

}  // namespace vardelic::python::shared

#pragma once

#include <nanobind/nanobind.h>

#include "python/capi/vardelic_capi.h"

namespace vardelic::rl {

// Adds game records and replays to the module and its Game class (records.cc); module.cc
// calls it after defining Game.
void bind_records(nanobind::module_& m);
// vardelic's C API and module, imported on first use (records.cc).
const python::CApi& vardelic_capi(PyObject*& module);

// Adds Game.view and describe (view.cc).
void bind_view(nanobind::module_& m);

}  // namespace vardelic::rl

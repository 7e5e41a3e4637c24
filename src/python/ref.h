#pragma once

#include <Python.h>

#include <utility>

namespace vardelic::python {

// An owned (strong) reference. Functions return Ref for new references and take borrowed ones
// as plain PyObject*; the destructor releases what is still owned, so early returns and
// exceptions cannot leak.
class Ref {
 public:
  Ref() = default;
  // Adopts a new reference (possibly nullptr, as returned by a failed API call).
  static Ref Steal(PyObject* object) { return Ref(object); }
  // Takes a new reference to a borrowed object.
  static Ref New(PyObject* object) {
    Py_XINCREF(object);
    return Ref(object);
  }

  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.object_, nullptr));
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  // Hands the reference to the caller.
  PyObject* release() { return std::exchange(object_, nullptr); }
  explicit operator bool() const { return object_ != nullptr; }
  // Drops the current object after taking `object` (already owned), like Py_SETREF.
  void Reset(PyObject* object = nullptr) {
    PyObject* old = std::exchange(object_, object);
    Py_XDECREF(old);
  }

 private:
  explicit Ref(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace vardelic::python

#pragma once

#include <Python.h>

#include "python/errors.h"

namespace vardelic::python {

// The borrow flag every object of the module carries: the number of shared holders, or -1
// while one call holds the object exclusively. A conflicting request raises RuntimeError at
// once instead of waiting, since the holder is further up the same thread's stack.
struct BorrowFlag {
  Py_ssize_t count = 0;
};

class SharedBorrow {
 public:
  explicit SharedBorrow(BorrowFlag& flag) : flag_(flag) {
    if (flag_.count < 0) Raise(PyExc_RuntimeError, "Already mutably borrowed");
    ++flag_.count;
  }
  ~SharedBorrow() { --flag_.count; }
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;

 private:
  BorrowFlag& flag_;
};

class ExclusiveBorrow {
 public:
  explicit ExclusiveBorrow(BorrowFlag& flag) : flag_(flag) {
    if (flag_.count != 0) Raise(PyExc_RuntimeError, "Already borrowed");
    flag_.count = -1;
  }
  ~ExclusiveBorrow() { flag_.count = 0; }
  ExclusiveBorrow(const ExclusiveBorrow&) = delete;
  ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;

 private:
  BorrowFlag& flag_;
};

}  // namespace vardelic::python

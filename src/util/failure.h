#pragma once

#include <stdexcept>
#include <string>

namespace vardelic::util {

// An internal failure of the engine: a programming error or a decision that cannot be made.
// It always carries the fixed message that callers (and Python) see; it never aborts the process.
class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace vardelic::util

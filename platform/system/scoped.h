// A seam replaced for the life of a guard: the previous value is put back on
// every way out of the scope, a failed test assertion included.
#pragma once

#include <utility>

namespace sys {

template <typename Value, Value (*Get)(), void (*Set)(Value)>
class Scoped {
 public:
  explicit Scoped(Value value) : previous_(Get()) { Set(std::move(value)); }
  ~Scoped() { Set(std::move(previous_)); }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;

 private:
  Value previous_;
};

}  // namespace sys

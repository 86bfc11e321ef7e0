// A facility is one operating-system service behind a small interface, with one real Linux
// implementation. A test swaps in a fake for the length of a scope and leaves every other
// facility real. Not thread-safe: facilities are swapped only by tests, before and after use.
#pragma once

#include "ovik/export.h"

namespace ovik::platform {

// Exported only for the interfaces the library exports (ModulePath, SystemInfo, Clock): an
// instance has the visibility of its interface.
template <class Interface>
class OVIK_API Facility {
 public:
  // The fake in force, or the real implementation (defined once per facility, in its .cpp).
  static Interface& get() { return fake_ != nullptr ? *fake_ : real(); }
  static Interface& real();
  static Interface* install(Interface* fake) {
    Interface* previous = fake_;
    fake_ = fake;
    return previous;
  }

 private:
  static inline Interface* fake_ = nullptr;
};

// Installs a fake for the life of the guard; the previous one comes back afterwards.
template <class Interface>
class ScopedFake {
 public:
  explicit ScopedFake(Interface& fake) : previous_(Facility<Interface>::install(&fake)) {}
  ~ScopedFake() { Facility<Interface>::install(previous_); }
  ScopedFake(const ScopedFake&) = delete;
  ScopedFake& operator=(const ScopedFake&) = delete;

 private:
  Interface* previous_;
};

}  // namespace ovik::platform

// The error a call raises, for tests that check the triple; (0, "", "") when it raises nothing.
#pragma once

#include <functional>

#include "ovik/error.h"

namespace ovik::testing {

inline RaisedError error_of(const std::function<void()>& call) {
  try {
    call();
  } catch (const RaisedError& e) {
    return e;
  }
  return RaisedError(0, "", "");
}

}  // namespace ovik::testing

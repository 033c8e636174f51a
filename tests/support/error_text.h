// The text of the exception an action raises, for tests that pin the
// system's error messages.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace lumetra::testing {

inline std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

}  // namespace lumetra::testing

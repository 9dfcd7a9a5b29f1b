// Puts a value back to its first state and frees what it held:
//   ResetToFresh(state.Errors);
// Assigning a fresh value is not enough: a string assigned from a short
// one keeps the buffer it had, so a state reset that way would go on
// holding the memory of the longest text it ever held.
#pragma once

#include <utility>

namespace vz {

template <typename T>
void ResetToFresh(T& value) {
  [[maybe_unused]] T dropped = std::move(value);
  value = T{};
}

}  // namespace vz

// Value types through hivex. hivex's hive_type enumerates only the standard types, yet carries
// any 32-bit type a hive holds (device properties use 0xFFFF0012 and the like): the bits are
// copied in and out, never converted, so no number outside the enumeration is held as one.
#pragma once

#include <hivex.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace winsim {

// What hivex hands out, freed when this goes.
struct FreeHivex {
  void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeHivex>;

static_assert(sizeof(hive_type) == sizeof(std::uint32_t));

inline std::uint32_t TypeBits(const hive_type& type) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &type, sizeof bits);
  return bits;
}

// A value for hivex_node_set_values, its type `type` whatever its number.
inline hive_set_value HiveValue(char* key, std::uint32_t type, std::size_t size, char* data) {
  hive_set_value value{key, hive_t_REG_NONE, size, data};
  std::memcpy(&value.t, &type, sizeof type);
  return value;
}

// `what` and the error of the last hivex call, for a message ("cannot read: ...").
std::string HivexProblem(const std::string& what);

}  // namespace winsim

#include "catalog/scramble.h"

namespace quillon::catalog {

// Key arithmetic is checked at compile time; the base constant wraps with the variant.
static_assert(ScrambleKey(0, 0) == 0 && ScrambleKey(0xC0, 0) == 0);
static_assert(ScrambleKey(0, 1) == kScrambleBase);
static_assert(ScrambleKey(0xFF, 1) == static_cast<std::uint8_t>(kScrambleBase - 1));

}  // namespace quillon::catalog

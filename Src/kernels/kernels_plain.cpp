// The plain kernels: one value (or one complex point) at a time. They are
// the reference the vector kernels are held to, and run on every processor.
#include "../exact.h"

#include "kernels.h"

namespace nr_plain {
namespace {  // internal linkage: nothing here can stand in for another set's

#include "lanes_scalar.inc"

// Through a 32-bit integer: exact for the de-emphasis's values, and cheaper
// than a library call where the baseline has no rounding instruction.
inline float trunc_toward_zero(float v) { return static_cast<float>(static_cast<int>(v)); }

}  // namespace

using V = Lane1;
using C = Point1;
#define NR_TARGET_NAME "plain"
#include "kernels.inc"

}  // namespace nr_plain

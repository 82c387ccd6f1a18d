// The kernels for aarch64 NEON, which every aarch64 processor has.
#include <arm_neon.h>

#include "kernels.h"

namespace nr_neon {

#include "lanes_scalar.inc"
#include "lanes_neon.inc"

using V = F32x4;
using C = F32x4;
#define NR_TARGET_NAME "neon"
#include "kernels.inc"

}  // namespace nr_neon

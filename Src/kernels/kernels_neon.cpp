// The kernels for aarch64 NEON, which every aarch64 processor has.
#include "../exact.h"

#include <arm_neon.h>

#include "kernels.h"

namespace nr_neon {

namespace {  // internal linkage: nothing here can stand in for another set's

#include "lanes_scalar.inc"
#include "lanes_neon.inc"

}  // namespace

using V = F32x4;
using C = F32x4;
#define NR_TARGET_NAME "neon"
#include "kernels.inc"

}  // namespace nr_neon

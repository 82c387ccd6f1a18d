// The kernels for WebAssembly SIMD128 (compiled with -msimd128; a build
// either has them or runs the plain kernels only).
#include "../exact.h"

#include <wasm_simd128.h>

#include "kernels.h"

namespace nr_wasm {

namespace {  // internal linkage: nothing here can stand in for another set's

#include "lanes_scalar.inc"
#include "lanes_wasm.inc"

}  // namespace

using V = F32x4;
using C = F32x4;
#define NR_TARGET_NAME "wasm-simd128"
#include "kernels.inc"

}  // namespace nr_wasm

/* The public headers must compile as C. */
#include <stddef.h>

#include "FFTnrc.h"
#include "spsubst.h"

/* Hosts embed the record by value: nearSilence took what was padding after
   the two flags, so the record keeps its size and every other offset. */
_Static_assert(offsetof(TSpectSubtract, pSn) == offsetof(TSpectSubtract, stateVad) + sizeof(mfloat),
               "the flags before pSn outgrew their padding");

int c_header_record_size(void) { return (int)sizeof(TSpectSubtract); }

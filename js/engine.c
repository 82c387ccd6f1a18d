/* What the JavaScript package needs from the stream adapter beyond its
   public functions: the record's size, so that the module's own malloc can
   hold one per channel, and the samples gathered towards the next block,
   so that every completed block's speech flag can be read. */
#include <emscripten.h>

#include "spstream.h"

EMSCRIPTEN_KEEPALIVE uint32 TncStream_Size(void) { return (uint32)sizeof(TSpectStream); }

EMSCRIPTEN_KEEPALIVE uint32 TncStream_Gathered(const TSpectStream *s) { return s->gathered; }

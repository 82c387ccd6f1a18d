/* What the JavaScript package needs from the host layer beyond its public
   functions: the record's size, so that the module's own malloc can hold
   one per channel. */
#include <emscripten.h>

#include "spstream.h"

EMSCRIPTEN_KEEPALIVE uint32 TncStream_Size(void) { return (uint32)sizeof(TSpectStream); }

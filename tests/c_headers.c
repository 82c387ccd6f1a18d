/* The public headers must compile as C. */
#include "FFTnrc.h"
#include "spsubst.h"

int c_header_record_size(void) { return (int)sizeof(TSpectSubtract); }

/* Under node, emscripten's C library calls its standard streams terminals
   even when they are files or pipes; programs that only draw progress on a
   terminal ask node instead. */
#include <emscripten.h>

EM_JS(int, tnc_node_isatty, (int fd), { return require('tty').isatty(fd) ? 1 : 0; });

int isatty(int fd) { return tnc_node_isatty(fd); }

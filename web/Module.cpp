// The WebAssembly module is the library with its C interface exported (see CMakeLists.txt);
// this file only pins what the page assumes of it.
#include "tarnwick/tarnwick.h"

static_assert(TARNWICK_CELLS == 42 && TARNWICK_COLUMNS == 7, "the page draws a 7 x 6 board");
static_assert(sizeof(tarnwick_move) == 16, "the worker reads a move as four int32");
static_assert(TARNWICK_RED == 0, "the worker reads colour 0 as red");

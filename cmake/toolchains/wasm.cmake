# WebAssembly with Debian's emscripten (its system libraries come prebuilt, so this works
# offline); the header-only dependencies as in the other cross builds.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../headers/HeaderOnly.cmake)

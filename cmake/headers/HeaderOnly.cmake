# For cross and wasm builds: the header-only dependencies from the build machine's /usr/include.
# Debian's package configs put all of /usr/include on the include path, where the cross or wasm
# compiler would take the build machine's C library headers for its own; these stand-ins expose
# only each library's own folder. Eigen's config already points at its own folder.
set(Eigen3_DIR /usr/share/eigen3/cmake CACHE PATH "Eigen's package config")
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/nlohmann_json CACHE PATH "nlohmann_json stand-in")
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/CLI11 CACHE PATH "CLI11 stand-in")

include(${CMAKE_CURRENT_LIST_DIR}/../StageHeaders.cmake)
tarnwick_header_only(CLI11::CLI11 CLI)

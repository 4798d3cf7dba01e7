include(${CMAKE_CURRENT_LIST_DIR}/../StageHeaders.cmake)
tarnwick_header_only(nlohmann_json::nlohmann_json nlohmann)

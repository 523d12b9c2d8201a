# nlohmann-json, header-only: the JSON that the programs write and read. A native build
# takes the package's own CMake files; the mingw-w64 build reuses the same Debian headers,
# through a folder that holds them alone, since /usr/include itself would put the host's
# C library before the cross compiler's.
if(CMAKE_CROSSCOMPILING)
  find_path(RELAY_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp NO_CMAKE_FIND_ROOT_PATH
            PATHS /usr/include /usr/local/include)
  if(NOT RELAY_NLOHMANN_JSON_INCLUDE)
    message(FATAL_ERROR "nlohmann/json.hpp not found: install nlohmann-json3-dev "
                        "(scripts/setup --windows)")
  endif()
  set(only_json ${CMAKE_BINARY_DIR}/nlohmann_json_include)
  file(MAKE_DIRECTORY ${only_json})
  file(CREATE_LINK ${RELAY_NLOHMANN_JSON_INCLUDE}/nlohmann ${only_json}/nlohmann SYMBOLIC)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${only_json})
else()
  find_package(nlohmann_json 3.10 REQUIRED)
endif()

# nlohmann/json (header-only, Debian's nlohmann-json3-dev) for the command line's JSON.
# A cross build takes the same headers from the build host: only the nlohmann folder is
# put on the include path (through a link in the build tree), never the host's whole
# /usr/include, whose C library headers would shadow the cross compiler's own.
find_path(QUILLON_NLOHMANN_JSON_ROOT nlohmann/json.hpp NO_CMAKE_FIND_ROOT_PATH
          DOC "The folder that holds nlohmann/json.hpp")
if(NOT QUILLON_NLOHMANN_JSON_ROOT)
  message(FATAL_ERROR "nlohmann/json.hpp not found: install nlohmann-json3-dev "
                      "(scripts/install-deps.sh run)")
endif()
set(quillon_json_include ${CMAKE_BINARY_DIR}/nlohmann-json)
file(MAKE_DIRECTORY ${quillon_json_include})
file(CREATE_LINK ${QUILLON_NLOHMANN_JSON_ROOT}/nlohmann ${quillon_json_include}/nlohmann
     SYMBOLIC)
add_library(quillon_json INTERFACE)
target_include_directories(quillon_json SYSTEM INTERFACE ${quillon_json_include})

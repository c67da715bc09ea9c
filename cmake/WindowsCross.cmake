# Cross build for Windows: header-only and C dependencies that Debian ships
# only for the build machine, made usable by the MinGW toolchain.

# nlohmann_json: the headers and the package files, staged in a prefix of
# their own so that /usr/include never reaches the cross compiler.
set(QUELTO_HOST_PREFIX ${CMAKE_BINARY_DIR}/host-headers)
if(NOT EXISTS ${QUELTO_HOST_PREFIX}/include/nlohmann)
  file(COPY /usr/include/nlohmann DESTINATION ${QUELTO_HOST_PREFIX}/include)
  file(COPY /usr/share/cmake/nlohmann_json DESTINATION ${QUELTO_HOST_PREFIX}/share/cmake)
endif()
set(nlohmann_json_DIR ${QUELTO_HOST_PREFIX}/share/cmake/nlohmann_json)

# EDFlib: its header, with a stand-in that reports the library unavailable
# (recordings cannot be played back on this build).
file(COPY /usr/include/edflib.h DESTINATION ${QUELTO_HOST_PREFIX}/include)
add_library(edf STATIC ${CMAKE_CURRENT_LIST_DIR}/windows/edflib_unavailable.c)
target_include_directories(edf SYSTEM PUBLIC ${QUELTO_HOST_PREFIX}/include)
target_compile_definitions(edf PUBLIC _LARGEFILE64_SOURCE _LARGEFILE_SOURCE)

# Test programs live apart from the bridge: Wine finds the bridge DLL
# through WINEPATH, and the SDK DLLs are then found beside the bridge.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  string(REPLACE "/" "\\" QUELTO_LIB_DIR_WINE "Z:${QUELTO_LIB_DIR}")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env "WINEPATH=${QUELTO_LIB_DIR_WINE}" ${CMAKE_CROSSCOMPILING_EMULATOR})
endif()
# Test lists are read when ctest runs, under the same Wine session.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# M_PI and friends under strict standard mode, as on glibc.
add_compile_definitions(_USE_MATH_DEFINES)

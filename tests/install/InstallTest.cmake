# Installs the build tree into a fresh prefix, checks the layout, then
# configures, builds and runs the consumer project against it.
# -D: BUILD_DIR WORK_DIR CONSUMER_DIR GENERATOR CONFIG C_COMPILER CXX_COMPILER
#     READELF LIBDIR DOCDIR BRIDGE_FILE_NAME SONAME EXPECT_CAPTURE_TOOL PYTHON PYTHON_DIR CHECK_PYTHON VERSION
#     MANAGED_SDK_DIR (the managed simulated SDK's folder; empty when it is not built)
cmake_minimum_required(VERSION 3.25)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

function(expect_file path)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endfunction()

set(prefix "${WORK_DIR}/prefix")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

run("install" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}" --config "${CONFIG}")

# The bridge with its SDK libraries in one folder, under a versioned name.
expect_file("${prefix}/${LIBDIR}/${BRIDGE_FILE_NAME}")
expect_file("${prefix}/${LIBDIR}/libQuelto.bridge.so")
expect_file("${prefix}/${LIBDIR}/${SONAME}")
foreach(sdk Quelto.dll Quelto.Common.dll PellimorCfgReader.dll)
  expect_file("${prefix}/${LIBDIR}/${sdk}")
endforeach()
set(soname "")
if(READELF)
  run("readelf" "${READELF}" -d "${prefix}/${LIBDIR}/${BRIDGE_FILE_NAME}")
  if(run_output MATCHES "\\(SONAME\\)[^[]*\\[([^]]*)\\]")
    set(soname "${CMAKE_MATCH_1}")
  endif()
else()
  file(READ_ELF "${prefix}/${LIBDIR}/${BRIDGE_FILE_NAME}" SONAME soname)
endif()
if(NOT soname STREQUAL SONAME)
  message(FATAL_ERROR "SONAME is '${soname}', expected '${SONAME}'")
endif()

foreach(header QueltoBridge.h QueltoExport.h QueltoCommon.h Quelto_BlockInfo.h Quelto_DataLayout.h Quelto_DaqSystem.h Quelto_DataAvailableEventArgs.h
               Quelto_DataAvailableEventArgs_C.h Quelto_CaptureConfiguration.h Quelto_SensorConfiguration.h
               Quelto_Enums.h Quelto_ValueTypes.h Quelto_ConfigurationHelpers.h SdkContract.h Runtime.h)
  expect_file("${prefix}/include/quelto-bridge/${header}")
endforeach()
# Every installed header compiles on its own, seeing only the installed
# folder: as C++20, and as C11 too when it is a C header (an #ifndef guard;
# C++-only headers use #pragma once).
file(GLOB installed_headers "${prefix}/include/quelto-bridge/*.h")
list(LENGTH installed_headers header_count)
if(header_count LESS 14)
  message(FATAL_ERROR "only ${header_count} headers installed")
endif()
set(alone "${WORK_DIR}/alone")
file(MAKE_DIRECTORY "${alone}")
set(c_headers 0)
foreach(header IN LISTS installed_headers)
  get_filename_component(name "${header}" NAME_WE)
  file(WRITE "${alone}/${name}.cpp" "#include \"${name}.h\"\n#include \"${name}.h\"\n")
  run("${name}.h alone (C++20)" "${CXX_COMPILER}" -std=c++20 -fsyntax-only -Wall -Wextra -Werror
      -I "${prefix}/include/quelto-bridge" "${alone}/${name}.cpp")
  file(READ "${header}" text)
  if(NOT text MATCHES "#pragma once")
    file(WRITE "${alone}/${name}.c" "#include \"${name}.h\"\n#include \"${name}.h\"\n")
    run("${name}.h alone (C11)" "${C_COMPILER}" -std=c11 -pedantic -fsyntax-only -Wall -Wextra -Werror
        -I "${prefix}/include/quelto-bridge" "${alone}/${name}.c")
    math(EXPR c_headers "${c_headers} + 1")
  endif()
endforeach()
if(c_headers LESS 9)
  message(FATAL_ERROR "only ${c_headers} installed headers compile as C")
endif()
message(STATUS "${header_count} installed headers compile alone, ${c_headers} of them as C11 too")

expect_file("${prefix}/${LIBDIR}/cmake/QueltoBridge/QueltoBridgeConfig.cmake")
expect_file("${prefix}/${LIBDIR}/cmake/QueltoBridge/QueltoBridgeConfigVersion.cmake")
expect_file("${prefix}/${LIBDIR}/pkgconfig/quelto-bridge.pc")
expect_file("${prefix}/${DOCDIR}/README.md")
file(GLOB configs "${prefix}/share/quelto-bridge/configs/*.json")
if(NOT configs)
  message(FATAL_ERROR "no sample configuration installed")
endif()
if(EXPECT_CAPTURE_TOOL)
  expect_file("${prefix}/bin/quelto-capture")
endif()

# Nothing installed may point back into the build tree.
file(READ "${prefix}/${LIBDIR}/pkgconfig/quelto-bridge.pc" pc)
file(GLOB targets_files "${prefix}/${LIBDIR}/cmake/QueltoBridge/*.cmake")
foreach(f IN LISTS targets_files)
  file(READ "${f}" text)
  string(APPEND pc "${text}")
endforeach()
string(FIND "${pc}" "${BUILD_DIR}" at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "an installed package file names the build tree ${BUILD_DIR}")
endif()

# The consumer project: find_package and pkg-config.
set(ENV{PKG_CONFIG_PATH} "${prefix}/${LIBDIR}/pkgconfig")
set(ENV{QUELTO_BRIDGE_LOG_DIR} "${WORK_DIR}/log")
unset(ENV{LD_LIBRARY_PATH})
run("consumer configure" ${CMAKE_COMMAND} -S "${CONSUMER_DIR}" -B "${WORK_DIR}/build" -G "${GENERATOR}"
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
run("consumer build" ${CMAKE_COMMAND} --build "${WORK_DIR}/build")
foreach(program consumer_c consumer_cxx consumer_pkgconfig)
  run("${program}" "${WORK_DIR}/build/${program}")
  message(STATUS "${run_output}")
endforeach()
run("consumer_facade" "${WORK_DIR}/build/consumer_facade" "${prefix}/share/quelto-bridge/configs/complete.json")
message(STATUS "${run_output}")
foreach(sdk Quelto.dll Quelto.Common.dll PellimorCfgReader.dll)
  expect_file("${WORK_DIR}/build/${sdk}")
endforeach()
# Without the deployed SDK the facade cannot find it, says where it looked
# and how to put the SDK there; the host catches that as Runtime::Exception
# (exit code 2) and reads its type.
execute_process(COMMAND "${WORK_DIR}/build/undeployed/consumer_facade_undeployed"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 2 OR NOT err MATCHES "caught Runtime::Exception System.IO.FileNotFoundException: "
   OR NOT err MATCHES "Looked for Quelto.dll in '[^']*undeployed'"
   OR NOT err MATCHES "Copy the SDK libraries beside the program" OR NOT err MATCHES "quelto_bridge_deploy_sdk\\(<target>\\)")
  message(FATAL_ERROR "consumer_facade_undeployed: expected a Runtime::Exception naming its folder and the way to deploy the SDK (${rc}):\n${out}\n${err}")
endif()

# A host linked by hand with the flags of the .pc file and the rpath that
# README gives runs without LD_LIBRARY_PATH.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  run("pkg-config" "${PKG_CONFIG}" --cflags --libs quelto-bridge)
  separate_arguments(pc_flags UNIX_COMMAND "${run_output}")
  run("pkg-config libdir" "${PKG_CONFIG}" --variable=libdir quelto-bridge)
  string(STRIP "${run_output}" pc_libdir)
  run("cc with pkg-config" "${C_COMPILER}" "${CONSUMER_DIR}/consumer_pkgconfig.c" ${pc_flags}
      "-Wl,-rpath,${pc_libdir}" -o "${WORK_DIR}/pkgconfig_by_hand")
  run("pkgconfig_by_hand" "${WORK_DIR}/pkgconfig_by_hand")
  message(STATUS "by hand: ${run_output}")
endif()

# The installed Python package finds the installed library by itself.
if(PYTHON AND PYTHON_DIR)
  expect_file("${prefix}/${PYTHON_DIR}/quelto/__init__.py")
  unset(ENV{QUELTO_BRIDGE_LIBRARY})
  set(ENV{PYTHONPATH} "${prefix}/${PYTHON_DIR}")
  run("installed python package" "${PYTHON}" "${CHECK_PYTHON}" "${prefix}/${LIBDIR}" "${VERSION}")
  message(STATUS "python: ${run_output}")
  # Installed under /usr/local, the package would import with no PYTHONPATH.
  unset(ENV{PYTHONPATH})
  run("python search path" "${PYTHON}" -c
      "import sys; d = '/usr/local/${PYTHON_DIR}'; assert d in sys.path, (d, sys.path)")
endif()

# The path real hardware takes: the device's .NET assemblies copied beside
# the installed bridge, as a user copies the vendor's. The installed bridge
# finds its helper assembly there, and a C host, the installed capture tool
# and a deployed C++ host all record blocks from the managed SDK.
if(MANAGED_SDK_DIR)
  expect_file("${prefix}/${LIBDIR}/QueltoBridgeHost.dll")
  set(sdk_dir "${prefix}/${LIBDIR}")
  foreach(file Quelto.dll Quelto.Common.dll PellimorCfgReader.dll libQueltoSimShim.so)
    expect_file("${MANAGED_SDK_DIR}/${file}")
    file(COPY "${MANAGED_SDK_DIR}/${file}" DESTINATION "${sdk_dir}")
  endforeach()
  file(READ "${sdk_dir}/Quelto.dll" head LIMIT 2 HEX)
  if(NOT head STREQUAL "4d5a")
    message(FATAL_ERROR "the managed Quelto.dll did not replace the native one")
  endif()
  run("consumer_c on the managed SDK" "${WORK_DIR}/build/consumer_c")
  message(STATUS "managed: ${run_output}")
  if(EXPECT_CAPTURE_TOOL)
    run("quelto-capture on the managed SDK" "${prefix}/bin/quelto-capture" --fast --quiet --duration 0.5
        --output "${WORK_DIR}/managed.bdf" --summary "${WORK_DIR}/managed.json")
    file(READ "${WORK_DIR}/managed.json" summary)
    string(JSON records GET "${summary}" records)
    if(NOT records EQUAL 5)
      message(FATAL_ERROR "quelto-capture on the managed SDK wrote ${records} records, expected 5")
    endif()
    message(STATUS "managed: quelto-capture wrote ${records} records")
  endif()
  # The package's deploy function copies the helper beside a C++ host too
  # when the SDK is managed, and the host runs from there.
  run("consumer configure (managed SDK)" ${CMAKE_COMMAND} -S "${CONSUMER_DIR}" -B "${WORK_DIR}/build-managed"
      -G "${GENERATOR}" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH=${prefix}
      -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
  run("consumer build (managed SDK)" ${CMAKE_COMMAND} --build "${WORK_DIR}/build-managed" --target consumer_facade)
  foreach(file Quelto.dll QueltoBridgeHost.dll libQueltoSimShim.so)
    expect_file("${WORK_DIR}/build-managed/${file}")
  endforeach()
  run("consumer_facade on the managed SDK" "${WORK_DIR}/build-managed/consumer_facade"
      "${prefix}/share/quelto-bridge/configs/complete.json")
  message(STATUS "managed: ${run_output}")
endif()

# Copies the SDK beside a host program (run by quelto_bridge_deploy_sdk after
# each build). -D: SDK_DIR (the folder of the installed bridge and SDK),
# DEST (the program's folder), EXTRA (more files to copy, |-separated).
#
# Always the three SDK libraries. When Quelto.dll is a .NET assembly, also
# the bridge's helper assembly, and the simulated SDK's native shim when it
# is there; a vendor SDK's own native files go through EXTRA.
cmake_minimum_required(VERSION 3.16)

set(files "${SDK_DIR}/Quelto.dll" "${SDK_DIR}/Quelto.Common.dll" "${SDK_DIR}/PellimorCfgReader.dll")
foreach(f IN LISTS files)
  if(NOT EXISTS "${f}")
    message(FATAL_ERROR "quelto_bridge_deploy_sdk: ${f} is missing; copy the device's SDK beside the bridge")
  endif()
endforeach()

# A .NET assembly is a PE file ("MZ"); the native SDK on Linux is ELF.
file(READ "${SDK_DIR}/Quelto.dll" head LIMIT 2 HEX)
set(managed OFF)
if(head STREQUAL "4d5a")
  # The native Windows SDK is a PE file too; an assembly names mscorlib.
  file(STRINGS "${SDK_DIR}/Quelto.dll" names REGEX "mscorlib|netstandard" LIMIT_COUNT 1)
  if(names)
    set(managed ON)
  endif()
endif()
if(managed)
  set(helper "${SDK_DIR}/QueltoBridgeHost.dll")
  if(NOT EXISTS "${helper}")
    message(FATAL_ERROR "quelto_bridge_deploy_sdk: the SDK is managed but the bridge's helper ${helper} is missing")
  endif()
  list(APPEND files "${helper}")
  foreach(shim libQueltoSimShim.so QueltoSimShim.dll)
    if(EXISTS "${SDK_DIR}/${shim}")
      list(APPEND files "${SDK_DIR}/${shim}")
    endif()
  endforeach()
endif()
string(REPLACE "|" ";" extra "${EXTRA}")
list(APPEND files ${extra})
file(COPY ${files} DESTINATION "${DEST}")

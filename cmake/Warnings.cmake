# Warnings for every target of the project.
add_library(quelto_warnings INTERFACE)
target_compile_options(quelto_warnings INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic>
  $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Wpedantic>)

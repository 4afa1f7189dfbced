# vemla_add_warnings(target [NARROWING]): the project's warning set for a
# target of ours, as errors when VEMLA_WERROR is on (scripts/build.sh turns
# it on). NARROWING adds -Wconversion, for the code the deliverables and the
# test server run, where a length or count from the wire, a file or Python
# that silently narrows is a fault; tests and benchmarks narrow their own
# literals and counters on purpose, so they go without it.
function(vemla_add_warnings target)
  cmake_parse_arguments(ARG "NARROWING" "" "" ${ARGN})
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor)
  if(ARG_NARROWING)
    target_compile_options(${target} PRIVATE -Wconversion)
  endif()
  if(VEMLA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

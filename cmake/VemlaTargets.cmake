# vemla_add_warnings(target): the project's warning set for a target of ours.
function(vemla_add_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# One warning set for every target of ours; third-party headers come in as system includes.
function(kvt40_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow
    -Wnon-virtual-dtor -Woverloaded-virtual -Wold-style-cast -Wcast-align)
  if(KVT40_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Each folder's CMakeLists.txt declares which library every source belongs to, so a file's
# layer never depends on what it happens to include:
#
#   kvt40_core_sources(A.cpp B.cpp)            toolkit-free, into kvt40_core
#   kvt40_sim_sources(A.cpp)                   the virtual module, into kvt40_sim (no Qt)
#   kvt40_cli_sources(ACommand.cpp)            kvt40ctl's commands, into kvt40_cli (no Qt)
#   kvt40_app_sources(AForm.cpp AColours.h)    Qt, into kvt40_app (only with KVT40_BUILD_GUI);
#                                              also a Qt header that has no .cpp of its own
#   kvt40_program_sources(main.cpp)            a program's own files, which add_executable names
#   kvt40_manual_sources(tool.cpp)             built by hand, never by CMake
#
# POSIX or WINDOWS before the files limits them to that system; they are declared either way.
# A declared file that does not exist fails at once; kvt40_check_sources(), called at the end
# of the top-level CMakeLists.txt, fails on a .cpp under src/ that nothing declares and on a
# toolkit-free file that includes Qt.

include(${CMAKE_CURRENT_LIST_DIR}/CheckLayers.cmake)

function(_kvt40_declare layer target)
  cmake_parse_arguments(D "POSIX;WINDOWS" "" "" ${ARGN})
  set(files)
  foreach(f ${D_UNPARSED_ARGUMENTS})
    cmake_path(ABSOLUTE_PATH f BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE OUTPUT_VARIABLE abs)
    if(NOT EXISTS ${abs})
      message(FATAL_ERROR "${CMAKE_CURRENT_LIST_FILE}: kvt40_${layer}_sources() declares ${f}, "
                          "which does not exist in ${CMAKE_CURRENT_SOURCE_DIR}")
    endif()
    list(APPEND files ${abs})
  endforeach()
  set_property(GLOBAL APPEND PROPERTY KVT40_${layer}_FILES ${files})
  if((D_POSIX AND WIN32) OR (D_WINDOWS AND NOT WIN32) OR NOT target)
    return()
  endif()
  target_sources(${target} PRIVATE ${files})
endfunction()

function(kvt40_core_sources)
  _kvt40_declare(core kvt40_core ${ARGN})
endfunction()

function(kvt40_sim_sources)
  _kvt40_declare(sim kvt40_sim ${ARGN})
endfunction()

function(kvt40_cli_sources)
  _kvt40_declare(cli kvt40_cli ${ARGN})
endfunction()

function(kvt40_app_sources)
  if(KVT40_BUILD_GUI)
    _kvt40_declare(app kvt40_app ${ARGN})
  else()
    _kvt40_declare(app "" ${ARGN})
  endif()
endfunction()

function(kvt40_program_sources)
  _kvt40_declare(program "" ${ARGN})
endfunction()

function(kvt40_manual_sources)
  _kvt40_declare(manual "" ${ARGN})
endfunction()

function(kvt40_check_sources)
  foreach(layer core sim cli app program manual)
    get_property(${layer} GLOBAL PROPERTY KVT40_${layer}_FILES)
  endforeach()

  # A .cpp that no list declares would silently stay out of every build. The lists are
  # recorded whatever the system and options, so every configure checks the whole tree.
  # CONFIGURE_DEPENDS: a new file re-runs this check at the next build, not only at the next
  # configure.
  set(declared ${core} ${sim} ${cli} ${app} ${program} ${manual})
  file(GLOB_RECURSE all_cpp CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*.cpp)
  set(missing)
  foreach(f ${all_cpp})
    if(NOT f IN_LIST declared)
      file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${f})
      list(APPEND missing ${rel})
    endif()
  endforeach()
  if(missing)
    list(JOIN missing "\n  " text)
    message(FATAL_ERROR "Sources that no CMakeLists.txt declares (add each to its folder's "
                        "kvt40_core_sources(), kvt40_app_sources() or the like):\n  ${text}")
  endif()

  # A file in two lists would be built into two libraries.
  set(seen)
  set(dup)
  foreach(f ${core} ${sim} ${cli} ${app} ${program} ${manual})
    if(f IN_LIST seen)
      file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${f})
      list(APPEND dup ${rel})
    endif()
    list(APPEND seen ${f})
  endforeach()
  if(dup)
    list(REMOVE_DUPLICATES dup)
    list(JOIN dup "\n  " text)
    message(FATAL_ERROR "Sources declared more than once (each belongs to one list):\n  ${text}")
  endif()

  # The toolkit-free folders and the app files among them, written out for the ctest check,
  # which reads the files again as they are when it runs.
  set(folders)
  foreach(f ${core} ${sim} ${cli})
    cmake_path(GET f PARENT_PATH d)
    list(APPEND folders ${d})
  endforeach()
  list(REMOVE_DUPLICATES folders)
  set(exempt ${app} ${manual})
  foreach(f ${app})
    if(f MATCHES "\\.cpp$")
      string(REGEX REPLACE "\\.cpp$" ".h" h ${f})
      list(APPEND exempt ${h})
    endif()
  endforeach()
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/kvt40_layers.cmake
       CONTENT "set(KVT40_QT_FREE_FOLDERS \"${folders}\")\nset(KVT40_APP_FILES \"${exempt}\")\n")
  kvt40_qt_includes("${folders}" "${exempt}" offenders)
  if(offenders)
    message(FATAL_ERROR "${offenders}")
  endif()
endfunction()

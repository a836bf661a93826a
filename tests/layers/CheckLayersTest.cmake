# The layer check on trees made for the purpose: one that keeps to the table passes, and the
# same tree with one upward include (gps reaching into the graphics core) fails, naming it.
# Run as: cmake -DZOR_ROOT=<repository> -DWORK=<scratch folder> -P CheckLayersTest.cmake
cmake_minimum_required(VERSION 3.20)
file(REMOVE_RECURSE ${WORK})

function(make_tree root)
  file(MAKE_DIRECTORY ${root}/cmake)
  configure_file(${ZOR_ROOT}/cmake/layers.cmake ${root}/cmake/layers.cmake COPYONLY)
  configure_file(${ZOR_ROOT}/cmake/read_layers.cmake ${root}/cmake/read_layers.cmake COPYONLY)
  file(WRITE ${root}/src/core/Logger.h "#pragma once\n#include \"sdk/telemetry_sdk.h\"\n#include \"hook/MinHook.h\"\n")
  file(WRITE ${root}/src/gps/Replacer.cpp "#include \"gps/Replacer.h\"\n#include \"core/Logger.h\"\n#include <d3d11.h>\n")
  file(WRITE ${root}/src/dx11/Core.cpp "#include \"gps/Replacer.h\"\n#include \"overlay/Panel.h\"\n")
  file(WRITE ${root}/src/plugin/Entry.cpp "#include \"dx11/Core.h\"\n#include \"core/Logger.h\"\n")
endfunction()

function(run_check root expect_ok)
  execute_process(COMMAND ${CMAKE_COMMAND} -DZOR_ROOT=${root} -P ${ZOR_ROOT}/cmake/CheckLayers.cmake
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(check_output "${out}${err}" PARENT_SCOPE)
  if(expect_ok AND NOT rc EQUAL 0)
    message(FATAL_ERROR "a tree that keeps to the layers was refused:\n${out}${err}")
  elseif(NOT expect_ok AND rc EQUAL 0)
    message(FATAL_ERROR "an upward include was not caught:\n${out}${err}")
  endif()
endfunction()

make_tree(${WORK}/good)
run_check(${WORK}/good TRUE)

make_tree(${WORK}/upward)
file(APPEND ${WORK}/upward/src/gps/Replacer.cpp "  #  include \"dx11/Core.h\"\n")
run_check(${WORK}/upward FALSE)
if(NOT check_output MATCHES "src/gps/Replacer.cpp: gps may not use dx11")
  message(FATAL_ERROR "the refusal does not name the file and the arrow:\n${check_output}")
endif()

make_tree(${WORK}/unknown)
file(WRITE ${WORK}/unknown/src/extras/Thing.cpp "#include \"core/Logger.h\"\n")
run_check(${WORK}/unknown FALSE)
if(NOT check_output MATCHES "src/extras/ is not a module")
  message(FATAL_ERROR "a folder missing from the table was not reported:\n${check_output}")
endif()
message(STATUS "layer check: passes a sound tree, refuses an upward include and an unlisted module")

# Reads cmake/layers.cmake: ZOR_MODULES (bottom first) and, per module m, ZOR_LAYER_USES_<m>
# (direct arrows) and ZOR_LAYER_BELOW_<m> (everything m may use, directly or not).
# Usable from a project and from a script (cmake -P).
set(ZOR_MODULES)
macro(zor_layer module)
  set(ZOR_LAYER_USES_${module} ${ARGN})
  set(ZOR_LAYER_BELOW_${module})
  foreach(_used ${ARGN})
    if(NOT _used IN_LIST ZOR_MODULES OR _used STREQUAL "${module}")
      message(FATAL_ERROR "layers.cmake: ${module} uses ${_used}, which is not listed above it")
    endif()
    list(APPEND ZOR_LAYER_BELOW_${module} ${_used} ${ZOR_LAYER_BELOW_${_used}})
  endforeach()
  list(REMOVE_DUPLICATES ZOR_LAYER_BELOW_${module})
  list(APPEND ZOR_MODULES ${module})
endmacro()
include(${CMAKE_CURRENT_LIST_DIR}/layers.cmake)

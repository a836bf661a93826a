# Third-party libraries, unpacked by scripts/setup.sh into third_party/ (never committed).
foreach(dir imgui zydis zycore)
  if(NOT EXISTS ${ZOR_THIRD_PARTY}/${dir})
    message(FATAL_ERROR "third_party/${dir} is missing: run scripts/setup.sh (./tabcast does it for you)")
  endif()
endforeach()

# Dear ImGui: core, Win32 platform backend, Direct3D 11 renderer backend.
set(_imgui ${ZOR_THIRD_PARTY}/imgui)
add_library(zor_imgui STATIC
  ${_imgui}/imgui.cpp ${_imgui}/imgui_draw.cpp ${_imgui}/imgui_tables.cpp ${_imgui}/imgui_widgets.cpp
  ${_imgui}/backends/imgui_impl_win32.cpp ${_imgui}/backends/imgui_impl_dx11.cpp)
target_include_directories(zor_imgui SYSTEM PUBLIC ${_imgui} ${_imgui}/backends)
# No gamepad: the panel is used with the mouse, and the Win32 backend would otherwise load XInput
# into the game only to free it again at shut-down, while XInput's own thread may still run.
target_compile_definitions(zor_imgui PUBLIC IMGUI_DISABLE_OBSOLETE_FUNCTIONS IMGUI_IMPL_WIN32_DISABLE_GAMEPAD)
target_link_libraries(zor_imgui PUBLIC d3d11 d3dcompiler dxgi dwmapi gdi32 user32 imm32)
# ImGui's item hooks, off until a test asks the overlay for a record of its frame
# (src/overlay/FrameRecord.cpp defines them).
target_compile_definitions(zor_imgui PRIVATE IMGUI_ENABLE_TEST_ENGINE)

# Zydis with Zycore, static, decoder only is all the hook engine needs but the defaults are kept.
set(ZYDIS_BUILD_SHARED_LIB OFF CACHE BOOL "" FORCE)
set(ZYDIS_BUILD_EXAMPLES OFF CACHE BOOL "" FORCE)
set(ZYDIS_BUILD_TOOLS OFF CACHE BOOL "" FORCE)
set(ZYDIS_BUILD_MAN OFF CACHE BOOL "" FORCE)
set(ZYDIS_BUILD_DOXYGEN OFF CACHE BOOL "" FORCE)
set(ZYDIS_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(ZYAN_ZYCORE_PATH ${ZOR_THIRD_PARTY}/zycore CACHE PATH "" FORCE)
add_subdirectory(${ZOR_THIRD_PARTY}/zydis ${CMAKE_BINARY_DIR}/third_party/zydis EXCLUDE_FROM_ALL)

# GoogleTest from Debian's sources, built with the same toolchain.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL)

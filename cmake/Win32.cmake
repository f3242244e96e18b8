# The 32-bit Windows build (cmake --preset win32): the driver's libraries on
# the Windows backends of platform/, Quarnel.dll with its .def exports, and the
# tests that need no Linux-only peer, run under Wine.

# Everything links statically against the compiler's run-time, so that
# Quarnel.dll and the test programs need no mingw DLLs beside them.
add_link_options(-static -static-libgcc -static-libstdc++)
# The C99 printf of mingw (%zu, %llu), not the older C run-time's.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)

function(quarnel_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_UNPARSED_ARGUMENTS})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/include)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

add_subdirectory(platform)
add_subdirectory(threads)
add_subdirectory(web)
add_subdirectory(rtp)
add_subdirectory(rtsp)
add_subdirectory(channel)
add_subdirectory(properties)
add_subdirectory(ptz)
add_subdirectory(io)
add_subdirectory(driver)

add_library(quarnel_core INTERFACE)
target_link_libraries(quarnel_core INTERFACE quarnel_driver quarnel_properties)

# Quarnel.dll: the ten exports of driver/Quarnel.def, nothing else.
add_library(quarnel SHARED driver/Exports.cpp driver/Quarnel.def)
target_link_libraries(quarnel PRIVATE quarnel_core)
target_link_options(quarnel PRIVATE -Wl,--no-undefined)
set_target_properties(quarnel PROPERTIES OUTPUT_NAME Quarnel PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX ".lib")
target_include_directories(quarnel INTERFACE
  $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include> $<BUILD_INTERFACE:${QUARNEL_GENERATED_INCLUDE_DIR}>)

add_subdirectory(tools/host)
add_subdirectory(tools/cli)

# The smallest host, as a Windows program that loads Quarnel.dll.
add_executable(stream_host examples/stream_host.cpp)
target_include_directories(stream_host PRIVATE ${CMAKE_SOURCE_DIR}/include ${QUARNEL_GENERATED_INCLUDE_DIR})
target_compile_definitions(stream_host PRIVATE QUARNEL_LIBRARY_DIR="$<TARGET_FILE_DIR:quarnel>")
add_dependencies(stream_host quarnel)

enable_testing()
add_subdirectory(tests/win32)

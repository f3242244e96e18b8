# The same Windows build for 64-bit Windows, run under 64-bit Wine: where the
# kernel runs no 32-bit Linux programs (ia32 emulation off), 32-bit Wine cannot
# start, and this build runs the Windows backends' tests instead.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUARNEL_MINGW_PREFIX x86_64-w64-mingw32)
find_program(QUARNEL_WINE NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
if(NOT QUARNEL_WINE)
  find_program(QUARNEL_WINE NAMES wine64 wine)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)

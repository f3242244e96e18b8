# Cross-build for 32-bit Windows with mingw-w64 (i686, posix thread model, so
# that std::thread and std::mutex are there): Quarnel.dll as hosts load it.
# Its programs run under 32-bit Wine, which needs a kernel that runs 32-bit
# Linux programs (see toolchain-mingw-x86_64.cmake where it does not).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUARNEL_MINGW_PREFIX i686-w64-mingw32)
set(QUARNEL_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)

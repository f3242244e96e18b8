// What the Windows backends share about Winsock: its start-up, and which
// sockets their owner put into non-blocking mode (WSAEventSelect puts a socket
// into it, so a wait must know what to return to).
//
// Thread-safety: all functions may be called from any thread.
#pragma once

#include <winsock2.h>

namespace dravnel::platform::win32 {

// Starts Winsock 2.2 once for the process; false when it cannot.
bool EnsureWinsock();
void NoteNonBlocking(SOCKET s, bool on);
bool IsNonBlocking(SOCKET s);

}  // namespace dravnel::platform::win32

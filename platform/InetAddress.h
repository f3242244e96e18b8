// The system's IPv4 socket address (sockaddr_in) and byte-order functions,
// for code that passes addresses along without calling the socket API.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
// windows.h names the ANSI and wide forms of its functions through macros;
// those that share a name with a method of the host interfaces go.
#undef GetUserName
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

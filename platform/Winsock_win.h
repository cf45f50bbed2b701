#pragma once
// Winsock 2 for the Windows socket and interface files: windows.h without
// its rarely used parts and without the min/max macros, and winsock2.h
// ahead of windows.h (which would otherwise pull in the old winsock.h).

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

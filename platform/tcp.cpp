// SPDX-License-Identifier: MIT
#include "platform/tcp.h"

#ifdef _WIN32
#include <winsock2.h>
// These need winsock2.h first.
#include <mstcpip.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace kt::platform {

#ifdef _WIN32

#ifndef SIO_TCP_SET_ACK_FREQUENCY
#define SIO_TCP_SET_ACK_FREQUENCY _WSAIOW(IOC_VENDOR, 23)
#endif

bool AcknowledgeAtOnce(std::uintptr_t socket, bool first) {
  if (!first) return true;
  DWORD frequency = 1;
  DWORD returned = 0;
  return WSAIoctl(static_cast<SOCKET>(socket), SIO_TCP_SET_ACK_FREQUENCY, &frequency,
                  sizeof frequency, nullptr, 0, &returned, nullptr, nullptr) == 0;
}

#else

bool AcknowledgeAtOnce(std::uintptr_t socket, bool) {
  const int on = 1;
  return setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on) == 0;
}

#endif

}  // namespace kt::platform

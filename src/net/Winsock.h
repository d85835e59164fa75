// What both sides of the network link need of Winsock on Windows (only the Windows build
// has this file's code).
#pragma once

namespace vantrel::winsock {

// Winsock works only after WSAStartup: once for the process, before the first socket. A
// failed start shows in the socket call that follows.
void Start();

// The errno value that a Winsock error stands for, so that a failure is told as on Linux.
// A call that would block, or was interrupted, is EAGAIN: to be tried again.
int Errno(int error);

}  // namespace vantrel::winsock

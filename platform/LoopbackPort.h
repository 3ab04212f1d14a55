#pragma once

// The server's port on 127.0.0.1: whether it is free, and the listening socket's options. One
// source file per platform (LoopbackPort_posix.cpp, LoopbackPort_win.cpp).

#include <cstdint>
#include <string>

namespace Corvan
{
namespace LoopbackPort
{

enum class EState
{
    Free,
    InUse,
    OtherError
};

// Binds 127.0.0.1:port the way the server will and releases it at once, to tell "port in use"
// apart from other start failures with a clear reason.
EState Check(int port, std::string& strError);

// Readies a listening socket (a native handle) before it binds: on Windows for our exclusive use,
// since a second program could otherwise bind the same port; elsewhere free to bind again at once
// while connections of an earlier run linger. On Linux a connection is accepted once its first
// bytes come (or after a second): idle ones never queue before a request.
void PrepareListener(std::uintptr_t socket);

} // namespace LoopbackPort
} // namespace Corvan

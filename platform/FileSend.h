#pragma once

// Part of an open file sent on a connection after the bytes that go before it (an answer's head),
// the file's bytes copied by the system alone where it can. One source file per platform
// (FileSend_linux.cpp, FileSend_win.cpp). Uses Asio, unlike the rest of the server's platform
// layer: it waits on the connection's socket.

#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

namespace Corvan
{

namespace ServedFiles
{
class CReadOnlyFile;
} // namespace ServedFiles

namespace FileSend
{

// Called once, on the socket's executor: no error when `head` and all `length` bytes went out;
// boost::asio::error::eof when the file ended before them (it was cut short meanwhile);
// boost::asio::error::timed_out when the client took nothing more for the timeout; else the
// socket's error. Whatever the error, what went out is an exact prefix.
using CDone = std::function<void(const boost::system::error_code& error)>;

// Sends `head`, then `length` bytes of `file` from `offset`, on `socket`. Each wait for the client
// to take more is bounded by `timeout`. `head`, `file` and `socket` must stay until `done`.
void AsyncSend(boost::asio::ip::tcp::socket& socket, std::string_view head, const ServedFiles::CReadOnlyFile& file,
               std::int64_t offset, std::int64_t length, std::chrono::milliseconds timeout, CDone done);

} // namespace FileSend
} // namespace Corvan

#pragma once

// An accepted connection as the server's sessions pass it on: its stream, the bytes read from it
// and not yet used, and its place among the connections the server may hold at once. Only the
// session files include this header: it brings in Asio and Beast's stream.

#include "server/http/ConnectionPlaces.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>

#include <string>

namespace Corvan
{

struct CConnection
{
    boost::beast::tcp_stream stream;
    // For a connection handed to a socket: its upgrade request and any frames that came with it.
    boost::beast::flat_buffer buffer;
    CConnectionPlace place;
    // The client's address, kept once a feature asked for it: a keep-alive connection asks each request.
    std::string peerAddress;
};

} // namespace Corvan

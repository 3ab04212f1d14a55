#pragma once

// One HTTP connection from accept to close: reads each request head (never a body), checks it
// centrally, hands it to the route that owns its path and sends the answer, keeping the connection
// for the next request when both sides want that. A WebSocket upgrade leaves with its route.

#include "server/http/Connection.h"

namespace Corvan
{

struct CRouteTable;

// Serves `socket` until it ends; the session owns itself. `routes` must outlive the loop.
void ServeHttp(boost::asio::ip::tcp::socket socket, CConnectionPlace place, const CRouteTable& routes);
// Serves the next requests of a connection that a feature took over and gives back; its buffer may
// hold the start of the next request.
void ResumeHttp(CConnection&& connection, const CRouteTable& routes);

} // namespace Corvan

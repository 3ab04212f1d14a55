#pragma once

// One request passed to a proxy rule's server and its answer passed back, both streamed in pieces:
// an upload or download of any size holds one piece at a time, and an event stream or long poll
// flows as it comes, with no limit while both ends are open (a client that leaves ends it; each
// write to the client has the server's send time). A WebSocket upgrade the server takes becomes a
// tunnel: its 101, then bytes both ways. The client's connection goes back to the HTTP session for
// its next request when both sides framed their messages; the server's is kept for the next
// exchange unless something did not complete.

#include "server/http/Connection.h"

#include <memory>
#include <string>

namespace Corvan
{

class CProxy;
struct CProxyRoute;

// Takes over `client`, whose request head (and any body after it) is still in its buffer, and
// passes the request to `pRoute`'s server for `target` (origin form: path and query).
void StartExchange(CProxy& proxy, CConnection&& client, std::shared_ptr<const CProxyRoute> pRoute, std::string target);

} // namespace Corvan

#pragma once

// The route table: which feature answers which path. Each feature adds the paths it owns; the
// folder's files take every other one. Looked up by the decoded target, after the central check.

#include "server/http/HttpResponse.h"
#include "server/http/Request.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace Corvan
{

struct CConnection;

struct CRoute
{
    std::string relativePath; // decoded, as in CTarget::relativePath
    std::function<CHttpResponse(const CRequest& request)> answer;
    // For a socket's path: takes a WebSocket upgrade request with its connection. Requests that are
    // no upgrade get `answer`.
    std::function<void(const CRequest& request, CConnection&& connection)> upgrade;
};

// A feature that takes a connection over, with its request's head (and any body after it) still in
// the connection's buffer.
using CTakeOver = std::function<void(CConnection&& connection)>;

struct CRouteTable
{
    std::vector<CRoute> routes;
    // Asked after the central check's framing and Host checks (before its method check: a site
    // rule that passes a path to another server takes every method) for a request whose path no
    // route owns: the feature that takes it over, or none.
    std::function<CTakeOver(const CRequest& request)> takeOver;
    std::function<CHttpResponse(const CRequest& request)> fallback;
    // A target that names a dot file or folder, which is never served.
    std::function<CHttpResponse(const CRequest& request)> hidden;

    // How long a client may take: to start a request on an open connection, to send the rest of a
    // head once started, and to take each piece of an answer (a paused media element or a throttled
    // download holds only its own buffer meanwhile).
    std::chrono::milliseconds idleTimeout{std::chrono::seconds(30)};
    std::chrono::milliseconds headTimeout{std::chrono::seconds(5)};
    std::chrono::milliseconds sendTimeout{std::chrono::seconds(60)};

    const CRoute* Find(const HttpRules::CTarget& target) const
    {
        if (target.endsWithSlash)
            return nullptr;
        for (const CRoute& route : routes)
        {
            if (route.relativePath == target.relativePath)
                return &route;
        }
        return nullptr;
    }
};

} // namespace Corvan

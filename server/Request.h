#pragma once

// What the central check learned about a request, handed to the feature that owns its route so
// that no feature parses the request again. civetweb answers a request on one worker thread, from
// the central check to the owner's handler, so the record is kept per thread.

#include "server/HttpRules.h"

struct mg_connection;

namespace Corvan
{

struct CRequest
{
    mg_connection* pConnection = nullptr;
    bool isHead = false;
    bool keepAlive = true;     // what the answer announces, as civetweb will act after it
    HttpRules::CTarget target; // decoded once, already checked
};

// The request this worker thread is answering.
inline CRequest& CurrentRequest()
{
    thread_local CRequest request;
    return request;
}

} // namespace Corvan

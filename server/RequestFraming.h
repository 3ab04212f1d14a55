#pragma once

// What civetweb's request parser lets through and a careful server refuses: a head it stopped
// reading early (a folded line, more lines than it keeps), and a body whose length is not one plain
// number. Such a request could end somewhere else than the client meant, and a second request
// hidden in it would be answered. Read from the parsed request alone.

struct mg_request_info;

namespace Corvan
{
namespace RequestFraming
{

// 0 when the request's head and body length are beyond doubt, else the status to refuse it with
// (431 for more header lines than civetweb keeps, 400 otherwise).
int Check(const mg_request_info* pRequest);

// True when the request announces a body: any Transfer-Encoding, or a Content-Length above 0.
bool CarriesBody(const mg_request_info* pRequest);

} // namespace RequestFraming
} // namespace Corvan

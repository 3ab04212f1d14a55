#pragma once

// The framing of a request head, checked by this server where a lenient parser would guess: where
// the head ends, line ends that are all CRLF, no folded lines, a bounded number of lines, and a
// body length that is one plain number. A request that could end somewhere else than the client
// meant is refused, so that a second request hidden in it is never answered.

#include <cstddef>
#include <string_view>

namespace Corvan
{

class CRequest;

namespace RequestFraming
{

// A head longer than this is refused with 431 before it is parsed.
constexpr std::size_t MaxHeadSize = 16 * 1024;
constexpr int MaxHeaderLines = 64;

// The length of the empty lines (CRLF) at the start of `data`, which may come before a request
// line and are skipped (RFC 9112 2.2).
std::size_t EmptyLinesBefore(std::string_view data);

// The length of the head at the start of `data`, the empty lines before it included, through the
// blank line that ends it (CRLF or a bare LF); 0 while that line has not arrived.
std::size_t HeadLength(std::string_view data);

// 0 when every line of the complete `head` ends in CRLF, no line is folded and at most
// MaxHeaderLines header lines follow the request line; else the status to refuse it with (505 for
// an HTTP version other than 1.0 and 1.1, 431 for too many lines, 400 otherwise).
int CheckHead(std::string_view head);

// Over the parsed head: 0 when its body length is beyond doubt (at most one Content-Length, plain
// digits, never beside a Transfer-Encoding, which must end in chunked), else 400.
int CheckBodyLength(const CRequest& request);

// True when the request announces a body: any Transfer-Encoding, or a Content-Length above 0.
bool CarriesBody(const CRequest& request);

} // namespace RequestFraming
} // namespace Corvan

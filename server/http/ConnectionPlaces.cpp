#include "server/http/ConnectionPlaces.h"

namespace Corvan
{

bool CConnectionPlaces::FreeOne()
{
    CConnectionPlace* pPlace = m_pOldest;
    if (!pPlace)
        return false;
    boost::beast::tcp_stream& stream = *pPlace->m_pStream;
    Unlink(*pPlace);
    // The place counts as free now, though its session ends only when its read comes back
    // cancelled: the descriptor is closed here, and each newcomer costs exactly one connection.
    pPlace->m_counted = false;
    --m_open;
    // A reset, not a close: a client that never asked for anything is owed no goodbye, and a
    // server that took thousands of places a second would fill the kernel with sockets in
    // TIME_WAIT.
    boost::system::error_code ignored;
    stream.socket().set_option(boost::asio::socket_base::linger(true, 0), ignored);
    stream.close();
    return true;
}

void CConnectionPlaces::Link(CConnectionPlace& place)
{
    place.m_pOlder = m_pNewest;
    place.m_pNewer = nullptr;
    (m_pNewest ? m_pNewest->m_pNewer : m_pOldest) = &place;
    m_pNewest = &place;
}

void CConnectionPlaces::Unlink(CConnectionPlace& place)
{
    (place.m_pOlder ? place.m_pOlder->m_pNewer : m_pOldest) = place.m_pNewer;
    (place.m_pNewer ? place.m_pNewer->m_pOlder : m_pNewest) = place.m_pOlder;
    place.m_pOlder = place.m_pNewer = nullptr;
    place.m_pStream = nullptr;
}

CConnectionPlace::CConnectionPlace(std::shared_ptr<CConnectionPlaces> pPlaces) : m_pPlaces(std::move(pPlaces))
{
    ++m_pPlaces->m_open;
}

CConnectionPlace::CConnectionPlace(CConnectionPlace&& other)
{
    other.Keep();
    m_pPlaces = std::move(other.m_pPlaces);
    m_counted = other.m_counted;
}

CConnectionPlace::~CConnectionPlace()
{
    if (!m_pPlaces)
        return;
    Keep();
    if (!m_counted)
        return;
    --m_pPlaces->m_open;
    if (m_pPlaces->onRoom)
        m_pPlaces->onRoom();
}

void CConnectionPlace::WaitForRequest(boost::beast::tcp_stream& stream)
{
    // A read that completed just before the place was taken may still come back here: the
    // connection is closed and no longer holds a place.
    if (m_pStream || !m_counted || !m_pPlaces)
        return;
    m_pStream = &stream;
    m_pPlaces->Link(*this);
    if (m_pPlaces->m_open >= m_pPlaces->m_cap && m_pPlaces->onRoom)
        m_pPlaces->onRoom();
}

std::optional<CConnectionPlace> CConnectionPlace::Another()
{
    if (m_pPlaces->Open() >= m_pPlaces->Cap() && !m_pPlaces->FreeOne())
        return std::nullopt;
    return std::optional<CConnectionPlace>(std::in_place, m_pPlaces);
}

void CConnectionPlace::Keep()
{
    if (m_pStream)
        m_pPlaces->Unlink(*this);
}

} // namespace Corvan

#include "platform/FileSend.h"

#include "platform/ServedFiles.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <cerrno>
#include <linux/sockios.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>

namespace Corvan
{
namespace FileSend
{

namespace
{

namespace net = boost::asio;
using tcp = net::ip::tcp;

// Files on a file system that cannot splice its pages into a socket are read in pieces this large.
constexpr std::size_t CopyPiece = 64 * 1024;
// What a client must take within each timeout while the socket is full (or all that waits).
constexpr std::int64_t MinTaken = 256 * 1024;
// After this much, a send gives the loop to the other connections before it goes on: a fast reader
// would otherwise keep it for a whole large file.
constexpr std::int64_t TurnSize = 4 * 1024 * 1024;

// One send: as much as the socket takes at once, then a wait until it takes more.
class CSend : public std::enable_shared_from_this<CSend>
{
public:
    CSend(tcp::socket& socket, std::string_view head, const ServedFiles::CReadOnlyFile& file, std::int64_t offset,
          std::int64_t length, std::chrono::milliseconds timeout, CDone done)
        : m_socket(socket), m_head(head), m_file(file), m_offset(offset), m_left(length), m_timeout(timeout),
          m_done(std::move(done)), m_timer(socket.get_executor())
    {
    }

    void Step()
    {
        // Never a call that blocks the loop: Asio made the socket non-blocking for itself already,
        // but says so only to its own calls.
        if (!m_socket.non_blocking())
        {
            boost::system::error_code error;
            m_socket.non_blocking(true, error);
            if (error)
                return Finish(error);
        }
        const std::int64_t turnEnd = m_left - TurnSize;
        while (!m_head.empty() || m_left > 0)
        {
            if (m_left < turnEnd)
                return net::post(m_socket.get_executor(), [self = shared_from_this()] { self->Step(); });
            const ssize_t count = m_head.empty() ? SendFile() : SendHead();
            if (count > 0)
                continue;
            if (count == 0)
                return Finish(net::error::eof); // the file ended early: it was cut short meanwhile
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return Wait();
            return Finish(boost::system::error_code(errno, boost::system::system_category()));
        }
        Finish({});
    }

private:
    ssize_t SendHead()
    {
        // MSG_MORE: a small file's bytes join its head in one segment.
        const ssize_t count =
            ::send(m_socket.native_handle(), m_head.data(), m_head.size(), MSG_NOSIGNAL | (m_left > 0 ? MSG_MORE : 0));
        if (count > 0)
            m_head.remove_prefix(static_cast<std::size_t>(count));
        return count;
    }

    ssize_t SendFile()
    {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(m_left, 1 << 30));
        ssize_t count = -1;
        if (!m_pCopy)
        {
            off_t at = m_offset;
            count = ::sendfile(m_socket.native_handle(), static_cast<int>(m_file.NativeHandle()), &at, wanted);
            if (count < 0 && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
                m_pCopy.reset(new char[CopyPiece]);
        }
        if (m_pCopy)
            count = Copy(std::min(wanted, CopyPiece));
        if (count > 0)
        {
            m_offset += count;
            m_left -= count;
        }
        return count;
    }

    // Reads a piece and sends what the socket takes of it; the rest is read again next time.
    ssize_t Copy(std::size_t wanted)
    {
        const long long read = m_file.ReadAt(m_pCopy.get(), wanted, m_offset);
        if (read <= 0)
            return read; // pread's errno stays
        return ::send(m_socket.native_handle(), m_pCopy.get(), static_cast<std::size_t>(read), MSG_NOSIGNAL);
    }

    void Wait()
    {
        m_unsentAtWait = Unsent();
        WaitForTaking();
        m_socket.async_wait(tcp::socket::wait_write,
                            [self = shared_from_this()](const boost::system::error_code& error)
                            {
                                self->m_timer.cancel();
                                if (error)
                                    return self->Finish(self->m_timedOut ? net::error::timed_out : error);
                                self->Step();
                            });
    }

    // The socket says it takes more only once half its (large) buffer is free. Meanwhile a client
    // that takes a piece, or all that waits, within the timeout goes on: slow, but reading.
    void WaitForTaking()
    {
        m_timer.expires_after(m_timeout);
        m_timer.async_wait(
            [self = shared_from_this()](const boost::system::error_code& error)
            {
                if (error)
                    return;
                const std::int64_t unsent = self->Unsent();
                if (self->m_unsentAtWait - unsent >= std::min(MinTaken, self->m_unsentAtWait))
                {
                    self->m_unsentAtWait = unsent;
                    return self->WaitForTaking();
                }
                self->m_timedOut = true;
                boost::system::error_code ignored;
                self->m_socket.cancel(ignored);
            });
    }

    // What the socket holds that the client has not taken.
    std::int64_t Unsent() const
    {
        int unsent = 0;
        return ::ioctl(m_socket.native_handle(), SIOCOUTQ, &unsent) == 0 ? unsent : 0;
    }

    void Finish(const boost::system::error_code& error)
    {
        net::post(m_socket.get_executor(), [done = std::move(m_done), error] { done(error); });
    }

    tcp::socket& m_socket;
    std::string_view m_head;
    const ServedFiles::CReadOnlyFile& m_file;
    std::int64_t m_offset;
    std::int64_t m_left;
    std::chrono::milliseconds m_timeout;
    CDone m_done;
    net::steady_timer m_timer;
    std::unique_ptr<char[]> m_pCopy;
    std::int64_t m_unsentAtWait = 0;
    bool m_timedOut = false;
};

} // namespace

void AsyncSend(tcp::socket& socket, std::string_view head, const ServedFiles::CReadOnlyFile& file, std::int64_t offset,
               std::int64_t length, std::chrono::milliseconds timeout, CDone done)
{
    std::make_shared<CSend>(socket, head, file, offset, length, timeout, std::move(done))->Step();
}

} // namespace FileSend
} // namespace Corvan

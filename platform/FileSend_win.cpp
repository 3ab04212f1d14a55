#include "platform/FileSend.h"

#include "platform/ServedFiles.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/windows/overlapped_ptr.hpp>
#include <boost/asio/write.hpp>

#include <windows.h>

#include <mswsock.h>
#include <versionhelpers.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>

namespace Corvan
{
namespace FileSend
{

namespace
{

namespace net = boost::asio;
using tcp = net::ip::tcp;

// One TransmitFile call or one write is at most this much of the file: the timeout bounds each
// piece the client takes.
constexpr std::int64_t PieceSize = 256 * 1024;

// Client editions of Windows run at most two TransmitFile calls at a time, machine-wide, and queue
// the rest: two paused videos would hold up every other file for the length of the timeout. There
// the file is read and written in pieces instead.
bool TransmitFileRunsFreely()
{
    static const bool server = IsWindowsServer();
    const char* pForced = std::getenv("CORVAN_TEST_TRANSMIT_FILE");
    return server || (pForced && pForced[0] == '1');
}

class CSend : public std::enable_shared_from_this<CSend>
{
public:
    CSend(tcp::socket& socket, std::string_view head, const ServedFiles::CReadOnlyFile& file, std::int64_t offset,
          std::int64_t length, std::chrono::milliseconds timeout, CDone done)
        : m_socket(socket), m_head(head), m_file(file), m_offset(offset), m_left(length), m_timeout(timeout),
          m_done(std::move(done)), m_timer(socket.get_executor()), m_transmit(TransmitFileRunsFreely())
    {
    }

    void Step()
    {
        if (m_head.empty() && m_left == 0)
            return Finish({});
        m_timer.expires_after(m_timeout);
        m_timer.async_wait(
            [self = shared_from_this()](const boost::system::error_code& error)
            {
                if (error)
                    return;
                self->m_timedOut = true;
                boost::system::error_code ignored;
                self->m_socket.cancel(ignored);
            });
        if (m_transmit && m_left > 0)
            Transmit();
        else
            WritePiece();
    }

private:
    void Transmit()
    {
        const DWORD piece = static_cast<DWORD>(std::min(m_left, PieceSize));
        net::windows::overlapped_ptr operation(
            m_socket.get_executor(), [self = shared_from_this()](const boost::system::error_code& error,
                                                                 std::size_t count) { self->OnSent(error, count); });
        OVERLAPPED* pAt = operation.get();
        pAt->Offset = static_cast<DWORD>(m_offset & 0xffffffff);
        pAt->OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(m_offset) >> 32);
        TRANSMIT_FILE_BUFFERS before{const_cast<char*>(m_head.data()), static_cast<DWORD>(m_head.size()), nullptr, 0};
        const BOOL sent = ::TransmitFile(m_socket.native_handle(), reinterpret_cast<HANDLE>(m_file.NativeHandle()),
                                         piece, 0, pAt, m_head.empty() ? nullptr : &before, 0);
        const int lastError = ::WSAGetLastError();
        if (!sent && lastError != WSA_IO_PENDING)
            operation.complete(boost::system::error_code(lastError, net::error::get_system_category()), 0);
        else
            operation.release();
    }

    // The head and the next piece of the file in one write; a file that ends early gives what it
    // had, and the next step ends the send.
    void WritePiece()
    {
        const std::size_t wanted = static_cast<std::size_t>(std::min(m_left, PieceSize));
        if (!m_pPiece)
            m_pPiece.reset(new char[std::max<std::size_t>(wanted, 1)]);
        std::size_t filled = 0;
        while (filled < wanted)
        {
            const long long count = m_file.ReadAt(m_pPiece.get() + filled, wanted - filled, m_offset + filled);
            if (count <= 0)
                break;
            filled += static_cast<std::size_t>(count);
        }
        const std::array<net::const_buffer, 2> buffers{net::buffer(m_head.data(), m_head.size()),
                                                       net::buffer(m_pPiece.get(), filled)};
        net::async_write(m_socket, buffers,
                         [self = shared_from_this()](const boost::system::error_code& error, std::size_t count)
                         { self->OnSent(error, count); });
    }

    // `count` holds the head's bytes too.
    void OnSent(const boost::system::error_code& error, std::size_t count)
    {
        m_timer.cancel();
        if (error)
            return Finish(m_timedOut ? net::error::timed_out : error);
        const std::int64_t fromFile = static_cast<std::int64_t>(count - std::min(count, m_head.size()));
        m_head = std::string_view();
        if (fromFile == 0 && m_left > 0)
            return Finish(net::error::eof); // the file ended early: it was cut short meanwhile
        m_offset += fromFile;
        m_left -= fromFile;
        Step();
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
    bool m_transmit;
    bool m_timedOut = false;
    std::unique_ptr<char[]> m_pPiece;
};

} // namespace

void AsyncSend(tcp::socket& socket, std::string_view head, const ServedFiles::CReadOnlyFile& file, std::int64_t offset,
               std::int64_t length, std::chrono::milliseconds timeout, CDone done)
{
    std::make_shared<CSend>(socket, head, file, offset, length, timeout, std::move(done))->Step();
}

} // namespace FileSend
} // namespace Corvan

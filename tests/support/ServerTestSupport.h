#pragma once

// What the server tests share: the real `mongoose` binary started on a free loopback port in a
// chosen folder, and HTTP spoken over raw sockets, so every byte of a request is the test's own.

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class QTcpSocket;

namespace CorvanTest
{

extern const QString ServerBinary;
constexpr int TimeoutMs = 5000;

struct Response
{
    int status = 0;                            // 0: the connection closed (or timed out) without an answer
    QByteArray reason;                         // the status line's words after the code
    QMultiMap<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
    QByteArray header(const char* name) const { return headers.value(QByteArray(name).toLower()); }
};

// Reads one response from `socket`; HEAD and 304 answers have no body whatever their length says.
// Never reads past that response: another response or socket frames may follow it.
Response ReadResponse(QTcpSocket& socket, bool noBody = false);

QByteArray Request(const QByteArray& target, const QByteArray& extraHeaders = QByteArray(),
                   const QByteArray& method = "GET");

// Finds a port that is free right now. The server is started on it at once; a rare race with
// another program is caught by the start's retry.
quint16 FreePort();

// Writes `content` to `path`, making its folders; fails the running test when it cannot.
void WriteFile(const QString& path, const QByteArray& content);

class CServerProcess
{
public:
    ~CServerProcess() { Stop(); }

    // Starts the server in `folder` and waits for its ready line; false if it did not come.
    bool Start(const QString& folder, const QStringList& options = {},
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    void Stop();

    // Everything the server wrote to standard error so far.
    QByteArray Errors();

    // A memory figure of the running server from /proc (Linux), in KiB: "VmRSS" now, "VmHWM" its
    // peak so far; -1 when it cannot be read.
    qint64 MemoryKiB(const char* pField) const;

    // One raw request on its own connection.
    Response Exchange(const QByteArray& rawRequest, bool noBody = false) const;
    Response Get(const QByteArray& target, const QByteArray& extraHeaders = QByteArray(),
                 const QByteArray& method = "GET") const;

    QByteArray OwnOrigin() const { return "http://localhost:" + QByteArray::number(port); }

    // When set, a program and its first arguments that end by exec'ing the server with the
    // arguments that follow them (say a shell that lowers a limit first).
    QStringList launcher;
    QProcess process;
    quint16 port = 0;
    QByteArray readyLine;

private:
    QByteArray m_errors;
};

} // namespace CorvanTest

#include "singleinstance/CSingleInstance.h"

#include "platform/InstanceChannel.h"
#include "productidentity/ProductIdentity.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QUrl>

namespace Corvan
{
namespace
{
// The request is one line: "open " and the percent-encoded UTF-8 path, or "show" alone. Encoding
// keeps line breaks in file names (legal on Unix) from ending the line early.
const QByteArray OpenVerb = "open ";
const QByteArray ShowVerb = "show";
const QByteArray Answer = "ok\n";
// Far above any real path; a peer that sends more, or takes longer, is cut off.
constexpr qint64 MaxRequestBytes = 64 * 1024;
constexpr int RequestTimeoutMs = 5000;
constexpr int ConnectTimeoutMs = 1000;

QByteArray Request(const QString& strPath)
{
    return (strPath.isEmpty() ? ShowVerb : OpenVerb + strPath.toUtf8().toPercentEncoding()) + '\n';
}
} // namespace

CSingleInstance::CSingleInstance(const QString& strName, QObject* parent) : QObject(parent), m_strName(strName) {}

CSingleInstance::~CSingleInstance() = default;

QString CSingleInstance::ChannelName(const std::string& strExecutablePath, QString* pRefusedFolder)
{
    // One window per product, not per program file: a copy renamed after another product is that
    // product, with its own window and title, while a copy under any other name is this one.
    const std::string product = ProductKeyFromPath(strExecutablePath);
    std::string refused;
    const std::string name = Platform::InstanceChannelName(
        product.empty() ? "corvan-html-starter" : "corvan-html-starter-" + product, refused);
    if (pRefusedFolder)
        *pRefusedFolder = QString::fromStdString(refused);
    return QString::fromStdString(name);
}

CSingleInstance::EClaim CSingleInstance::Claim(const QString& strPath, int answerTimeoutMs)
{
    if (m_strName.isEmpty())
        return EClaim::Alone;
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        switch (HandOver(strPath, answerTimeoutMs))
        {
        case EHandOver::Delivered:
            return EClaim::HandedOver;
        case EHandOver::Unanswered:
            return EClaim::NoAnswer;
        case EHandOver::NoListener:
            break;
        }
        delete m_pServer;
        m_pServer = new QLocalServer(this);
        if (Platform::ChannelNeedsAccessList())
            m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_pServer, &QLocalServer::newConnection, this, &CSingleInstance::AcceptConnections);
        if (m_pServer->listen(m_strName))
            return EClaim::First;
        if (m_pServer->serverError() != QAbstractSocket::AddressInUseError)
            break;
        // The name is taken, yet nobody answered on it a moment ago: a tool that crashed left its
        // socket behind. Remove it and try once more, in case another start got there in between.
        QLocalServer::removeServer(m_strName);
    }
    delete m_pServer;
    m_pServer = nullptr;
    return EClaim::Alone;
}

CSingleInstance::EHandOver CSingleInstance::HandOver(const QString& strPath, int answerTimeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_strName);
    if (!socket.waitForConnected(ConnectTimeoutMs))
        return EHandOver::NoListener;
    // Whoever holds the name must be us: a file never goes to another user's program.
    if (!Platform::PeerIsSameUser(socket.socketDescriptor()))
        return EHandOver::NoListener;

    const QDeadlineTimer deadline(answerTimeoutMs);
    socket.write(Request(strPath));
    while (socket.bytesToWrite() > 0)
    {
        if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
            return EHandOver::Unanswered;
    }
    while (!socket.canReadLine())
    {
        if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0)
            return EHandOver::Unanswered;
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            return socket.canReadLine() ? EHandOver::Delivered : EHandOver::Unanswered;
    }
    return socket.readLine() == Answer ? EHandOver::Delivered : EHandOver::Unanswered;
}

void CSingleInstance::AcceptConnections()
{
    while (QLocalSocket* pSocket = m_pServer->nextPendingConnection())
    {
        connect(pSocket, &QLocalSocket::disconnected, pSocket, &QObject::deleteLater);
        if (!Platform::PeerIsSameUser(pSocket->socketDescriptor()))
        {
            pSocket->abort();
            pSocket->deleteLater();
            continue;
        }
        QTimer::singleShot(RequestTimeoutMs, pSocket, [pSocket] { pSocket->abort(); });
        connect(pSocket, &QLocalSocket::readyRead, this, [this, pSocket] { ReadRequest(pSocket); });
        ReadRequest(pSocket);
    }
}

void CSingleInstance::ReadRequest(QLocalSocket* pSocket)
{
    if (!pSocket->canReadLine())
    {
        if (pSocket->bytesAvailable() > MaxRequestBytes)
            pSocket->abort();
        return;
    }
    QByteArray line = pSocket->readLine(MaxRequestBytes);
    if (!line.endsWith('\n'))
    {
        pSocket->abort();
        return;
    }
    line.chop(1);
    QString strPath;
    if (line.startsWith(OpenVerb))
        strPath = QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(OpenVerb.size())));
    else if (line != ShowVerb)
    {
        pSocket->abort();
        return;
    }
    // "open " with nothing after it names no file; it must not pass for "show".
    if (line.startsWith(OpenVerb) && strPath.isEmpty())
    {
        pSocket->abort();
        return;
    }
    // Answer first, act later: the launch blocks this thread for a while, and the asking start
    // should end at once.
    disconnect(pSocket, &QLocalSocket::readyRead, this, nullptr);
    pSocket->write(Answer);
    pSocket->flush();
    pSocket->disconnectFromServer();
    QMetaObject::invokeMethod(
        this, [this, strPath] { emit Requested(strPath); }, Qt::QueuedConnection);
}

} // namespace Corvan

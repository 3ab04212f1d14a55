#pragma once

#include <QObject>
#include <QString>

#include <string>

class QLocalServer;
class QLocalSocket;

namespace Corvan
{

// One tool per user session. The first start listens on a local socket (a named pipe on Windows)
// that only its user can reach; a later start hands its file to it and ends, so there is never a
// second window whose launch would end the first one's server.
class CSingleInstance : public QObject
{
    Q_OBJECT

public:
    // `strName` is the channel, as ChannelName() gives it; an empty name makes every start the first.
    explicit CSingleInstance(const QString& strName, QObject* parent = nullptr);
    ~CSingleInstance() override;

    // This user's and session's channel for the product that the executable at `strExecutablePath`
    // carries; empty when no private one can be had, and then `pRefusedFolder` gets the folder that
    // was not private, if that was why.
    static QString ChannelName(const std::string& strExecutablePath, QString* pRefusedFolder = nullptr);

    enum class EClaim
    {
        First,      // nobody else runs: this start listens now and shows the window
        HandedOver, // a running tool took the file: this start ends with exit code 0
        NoAnswer,   // a running tool took the connection but never answered (hung): end with an error
        Alone,      // no channel could be had: run without hand-over
    };

    // Hands `strPath` (empty: only bring the window forward) to a running tool of this user, or
    // becomes the one that listens. A socket left behind by a tool that crashed is replaced. Blocks
    // at most `answerTimeoutMs` for a running tool's answer.
    EClaim Claim(const QString& strPath, int answerTimeoutMs = AnswerTimeoutMs);

    // How long a running tool may take to answer: it is deaf while it launches a server.
    static constexpr int AnswerTimeoutMs = 10000;

signals:
    // A later start asked for `strPath` as if it had been dropped; empty: it had no file and only
    // wants the window brought forward.
    void Requested(const QString& strPath);

private:
    enum class EHandOver
    {
        Delivered,
        NoListener,
        Unanswered,
    };
    EHandOver HandOver(const QString& strPath, int answerTimeoutMs);
    void AcceptConnections();
    void ReadRequest(QLocalSocket* pSocket);

    QString m_strName;
    QLocalServer* m_pServer = nullptr;
};

} // namespace Corvan

#include "platform/InstanceChannel.h"
#include "singleinstance/CSingleInstance.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace Corvan;

namespace
{
const QString Helper = QStringLiteral(CORVAN_SINGLEINSTANCE_HELPER);

// A helper process (see singleinstance_helper.cpp), optionally run as the user "nobody".
class CHelper
{
public:
    explicit CHelper(const QStringList& arguments, bool asNobody = false)
    {
        if (asNobody)
            m_process.start(QStringLiteral("setpriv"),
                            QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", Helper} + arguments);
        else
            m_process.start(Helper, arguments);
    }
    ~CHelper()
    {
        // Ends only the process this helper started, by its own handle.
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // The next line it prints (decoded), waiting at most 10 s; empty when none came.
    QString NextLine()
    {
        QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine() && !deadline.hasExpired())
        {
            // Runs this process's event loop too: the helper may be waiting for an answer from us.
            QTest::qWait(5);
        }
        QByteArray line = m_process.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        const int blank = line.indexOf(' ');
        return blank < 0
                   ? QString::fromUtf8(line)
                   : QString::fromUtf8(line.left(blank + 1) + QByteArray::fromPercentEncoding(line.mid(blank + 1)));
    }

    QProcess& Process() { return m_process; }

private:
    QProcess m_process;
};

bool CanRunAsNobody()
{
    return geteuid() == 0 && !QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty();
}
} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void channelIsPrivate();
    void handOver_data();
    void handOver();
    void secondStartAfterACrash();
    void garbageIsDropped_data();
    void garbageIsDropped();
    void anotherUsersListenerGetsNothing();
    void anotherUsersRequestIsRefused();

private:
    QString m_strName;
    QScopedPointer<QTemporaryDir> m_pDir;
};

void TestSingleInstance::init()
{
    m_pDir.reset(new QTemporaryDir());
    QVERIFY(m_pDir->isValid());
    m_strName = m_pDir->filePath(QStringLiteral("channel"));
}

void TestSingleInstance::channelIsPrivate()
{
    // The real channel lies in a folder only this user may enter (XDG_RUNTIME_DIR here).
    const QString name = CSingleInstance::ChannelName("/usr/bin/corvan-html-starter");
    QVERIFY(!name.isEmpty());
    const QFileInfo folder(QFileInfo(name).absolutePath());
    QVERIFY(folder.isDir() && !folder.isSymLink());
    QCOMPARE(folder.ownerId(), uint(getuid()));
    QCOMPARE(folder.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                                     QFile::WriteOther | QFile::ExeOther),
             QFile::Permissions());
    // One per product: a copy renamed after another product has its own, a copy under any other name
    // is the same product.
    QCOMPARE(CSingleInstance::ChannelName("/home/ann/Renamed.exe"), name);
    QVERIFY(CSingleInstance::ChannelName("C:\\Tools\\CorvanStudio.exe") != name);
}

void TestSingleInstance::handOver_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("plain") << "/srv/site/index.html";
    QTest::newRow("blanks and non-ASCII") << QString::fromUtf8("/tmp/folder with blanks/Übersicht é #1.html");
    QTest::newRow("line break in the name") << "/tmp/line\nbreak.html";
    QTest::newRow("a refused file still goes over: the window refuses it") << "/tmp/notes.txt";
    QTest::newRow("no file: bring the window forward") << "";
}

void TestSingleInstance::handOver()
{
    QFETCH(QString, path);
    CHelper first({QStringLiteral("claim"), m_strName});
    QCOMPARE(first.NextLine(), QStringLiteral("first"));

    CSingleInstance second(m_strName);
    QCOMPARE(second.Claim(path), CSingleInstance::EClaim::HandedOver);
    QCOMPARE(first.NextLine(), QStringLiteral("requested ") + path);
}

void TestSingleInstance::secondStartAfterACrash()
{
    {
        CHelper crashed({QStringLiteral("claim"), m_strName});
        QCOMPARE(crashed.NextLine(), QStringLiteral("first"));
        crashed.Process().kill();
        QVERIFY(crashed.Process().waitForFinished(5000));
    }
    QVERIFY2(QFileInfo::exists(m_strName), "a killed tool leaves its socket behind");

    // The next start listens in its place, and a start after that reaches it.
    CSingleInstance next(m_strName);
    QCOMPARE(next.Claim(QString()), CSingleInstance::EClaim::First);
    QSignalSpy requested(&next, &CSingleInstance::Requested);
    CHelper later({QStringLiteral("claim"), m_strName, QStringLiteral("/srv/site/page.html")});
    QCOMPARE(later.NextLine(), QStringLiteral("handed-over"));
    QTRY_COMPARE(requested.count(), 1);
    QCOMPARE(requested.at(0).at(0).toString(), QStringLiteral("/srv/site/page.html"));
    QTRY_COMPARE(later.Process().state(), QProcess::NotRunning);
    QCOMPARE(later.Process().exitCode(), 0);
}

void TestSingleInstance::garbageIsDropped_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("reply");
    QTest::newRow("a request") << "open %2Fsrv%2Fa.html"
                               << "answer ok";
    QTest::newRow("unknown verb") << "delete /srv/a.html"
                                  << "closed";
    QTest::newRow("open without a file") << "open "
                                         << "closed";
    QTest::newRow("endless line") << QString(70 * 1024, QLatin1Char('x')) << "closed";
}

void TestSingleInstance::garbageIsDropped()
{
    QFETCH(QString, line);
    QFETCH(QString, reply);
    CSingleInstance first(m_strName);
    QCOMPARE(first.Claim(QString()), CSingleInstance::EClaim::First);
    QSignalSpy requested(&first, &CSingleInstance::Requested);
    CHelper sender({QStringLiteral("send"), m_strName, line});
    QCOMPARE(sender.NextLine(), reply);
    QTRY_COMPARE(requested.count(), reply == QLatin1String("closed") ? 0 : 1);
}

void TestSingleInstance::anotherUsersListenerGetsNothing()
{
    if (!CanRunAsNobody())
        QSKIP("needs root and setpriv to run a listener as another user");
    // A folder where another user can put a socket, which the real channel's folder never is.
    QVERIFY(QFile::setPermissions(m_pDir->path(), QFile::Permissions(0x7777)));
    CHelper stranger({QStringLiteral("claim"), m_strName}, true);
    QCOMPARE(stranger.NextLine(), QStringLiteral("first"));

    QLocalSocket socket;
    socket.connectToServer(m_strName);
    QVERIFY(socket.waitForConnected(5000));
    QVERIFY2(!Platform::PeerIsSameUser(socket.socketDescriptor()), "the stranger passes for us");
    socket.abort();

    // A start of ours does not hand its file to it.
    CSingleInstance ours(m_strName);
    QVERIFY(ours.Claim(QStringLiteral("/home/me/secret.html")) != CSingleInstance::EClaim::HandedOver);
}

void TestSingleInstance::anotherUsersRequestIsRefused()
{
    if (!CanRunAsNobody())
        QSKIP("needs root and setpriv to send as another user");
    QVERIFY(QFile::setPermissions(m_pDir->path(), QFile::Permissions(0x7777)));
    CSingleInstance first(m_strName);
    QCOMPARE(first.Claim(QString()), CSingleInstance::EClaim::First);
    // Open the socket itself to all, so only the check of the peer stands in the way.
    QVERIFY(QFile::setPermissions(m_strName, QFile::Permissions(0x7777)));
    QSignalSpy requested(&first, &CSingleInstance::Requested);

    CHelper stranger({QStringLiteral("send"), m_strName, QStringLiteral("open %2Ftmp%2Fplanted.html")}, true);
    QCOMPARE(stranger.NextLine(), QStringLiteral("closed"));
    CHelper own({QStringLiteral("send"), m_strName, QStringLiteral("open %2Fsrv%2Fmine.html")});
    QCOMPARE(own.NextLine(), QStringLiteral("answer ok"));
    QTRY_COMPARE(requested.count(), 1);
    QCOMPARE(requested.at(0).at(0).toString(), QStringLiteral("/srv/mine.html"));
}

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"

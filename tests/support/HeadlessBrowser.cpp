#include "tests/support/HeadlessBrowser.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace CorvanTest
{

CHeadlessBrowser::~CHeadlessBrowser()
{
    Stop();
}

bool CHeadlessBrowser::Start(const QString& program, const QString& url, QString& strError)
{
    int toBrowser[2];
    int fromBrowser[2];
    if (!m_profile.isValid() || pipe2(toBrowser, O_CLOEXEC) != 0)
    {
        strError = "cannot make a pipe";
        return false;
    }
    if (pipe2(fromBrowser, O_CLOEXEC) != 0)
    {
        close(toBrowser[0]);
        close(toBrowser[1]);
        strError = "cannot make a pipe";
        return false;
    }
    const std::vector<std::string> arguments{
        program.toStdString(),
        "--headless",
        "--no-sandbox",
        "--disable-gpu",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
        "--no-first-run",
        "--user-data-dir=" + m_profile.path().toStdString(),
        "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE localhost, EXCLUDE 127.0.0.1",
        "--remote-debugging-pipe",
        url.toStdString()};
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    m_pid = fork();
    if (m_pid == 0)
    {
        // The browser reads commands from descriptor 3 and writes answers to 4. Its own group, so
        // that Stop ends its helper processes too.
        setpgid(0, 0);
        const int in = fcntl(toBrowser[0], F_DUPFD, 10);
        const int out = fcntl(fromBrowser[1], F_DUPFD, 10);
        const int null = open("/dev/null", O_RDWR);
        if (in < 0 || out < 0 || null < 0 || dup2(in, 3) < 0 || dup2(out, 4) < 0 || dup2(null, 0) < 0 ||
            dup2(null, 1) < 0 || dup2(null, 2) < 0)
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(toBrowser[0]);
    close(fromBrowser[1]);
    m_toBrowser = toBrowser[1];
    m_fromBrowser = fromBrowser[0];
    if (m_pid < 0)
    {
        strError = "cannot start the browser";
        return false;
    }

    // The page's target appears once the browser has opened the URL.
    QDeadlineTimer deadline(20000);
    QString targetId;
    while (targetId.isEmpty() && !deadline.hasExpired())
    {
        const QJsonArray targets = Call("Target.getTargets", {}, 5000)["targetInfos"].toArray();
        for (const QJsonValue& target : targets)
        {
            if (target["type"].toString() == "page")
                targetId = target["targetId"].toString();
        }
        if (targetId.isEmpty())
            QThread::msleep(50);
    }
    if (targetId.isEmpty())
    {
        strError = "the browser opened no page";
        return false;
    }
    m_session =
        Call("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}}, 5000)["sessionId"].toString();
    if (m_session.isEmpty())
    {
        strError = "cannot attach to the page";
        return false;
    }
    return true;
}

QString CHeadlessBrowser::Evaluate(const QString& expression, int timeoutMs)
{
    const QJsonValue value =
        Call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}}, timeoutMs, true)["result"]
            .toObject()["value"];
    return value.isDouble() ? QString::number(value.toDouble(), 'f', 3) : value.toString();
}

QJsonObject CHeadlessBrowser::Call(const QString& method, const QJsonObject& params, int timeoutMs, bool inPage)
{
    if (m_toBrowser < 0)
        return {};
    const int id = m_nextId++;
    QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
    if (inPage)
        message["sessionId"] = m_session;
    const QByteArray data = QJsonDocument(message).toJson(QJsonDocument::Compact) + '\0';
    for (qsizetype sent = 0; sent < data.size();)
    {
        const ssize_t count = write(m_toBrowser, data.constData() + sent, size_t(data.size() - sent));
        if (count < 0 && errno != EINTR)
            return {};
        sent += count > 0 ? count : 0;
    }
    QDeadlineTimer deadline(timeoutMs);
    for (;;)
    {
        int end;
        while ((end = m_buffer.indexOf('\0')) >= 0)
        {
            const QJsonObject answer = QJsonDocument::fromJson(m_buffer.left(end)).object();
            m_buffer.remove(0, end + 1);
            if (answer["id"].toInt() == id)
                return answer["result"].toObject();
        }
        pollfd fd{m_fromBrowser, POLLIN, 0};
        const int left = int(deadline.remainingTime());
        if (left <= 0 || poll(&fd, 1, left) <= 0)
            return {};
        char chunk[65536];
        const ssize_t count = read(m_fromBrowser, chunk, sizeof chunk);
        if (count <= 0)
            return {};
        m_buffer.append(chunk, int(count));
    }
}

void CHeadlessBrowser::Stop()
{
    if (m_pid > 0)
    {
        Call("Browser.close", {}, 2000);
        QDeadlineTimer deadline(3000);
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0 && !deadline.hasExpired())
            QThread::msleep(20);
        kill(-m_pid, SIGKILL); // whatever of the group is left
        waitpid(m_pid, &status, WNOHANG);
        m_pid = -1;
    }
    for (int* pFd : {&m_toBrowser, &m_fromBrowser})
    {
        if (*pFd >= 0)
            close(*pFd);
        *pFd = -1;
    }
}

} // namespace CorvanTest

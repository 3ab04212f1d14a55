#pragma once

// Drives a headless Chromium through its DevTools pipe (file descriptors, no debugging port, the
// TESTING.md flags that keep it off the network): opens one page and evaluates expressions in it.
// Shared by the live-reload test and its benchmark. POSIX only.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

#include <sys/types.h>

namespace CorvanTest
{

class CHeadlessBrowser
{
public:
    CHeadlessBrowser() = default;
    ~CHeadlessBrowser();
    CHeadlessBrowser(const CHeadlessBrowser&) = delete;
    CHeadlessBrowser& operator=(const CHeadlessBrowser&) = delete;

    // Starts `program` (chromium) on `url` and attaches to that page; false with a reason.
    bool Start(const QString& program, const QString& url, QString& strError);
    // The expression's value in the page, as text ("" when it fails or is not a string/number).
    QString Evaluate(const QString& expression, int timeoutMs = 5000);
    // Ends the browser and everything it started.
    void Stop();

private:
    QJsonObject Call(const QString& method, const QJsonObject& params, int timeoutMs, bool inPage = false);

    pid_t m_pid = -1;
    int m_toBrowser = -1;
    int m_fromBrowser = -1;
    int m_nextId = 1;
    QByteArray m_buffer;
    QString m_session;
    QTemporaryDir m_profile;
};

} // namespace CorvanTest

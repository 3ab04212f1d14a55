#pragma once

// What both end-to-end suites (the Linux tool, and the Windows release under wine) do as a user:
// drag a file from a stand-in file manager, ask the server for a page, read what the stand-in
// browser recorded.

#include "CE2eDesktop.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <cstdio>

#include <memory>

namespace Corvan
{
namespace E2e
{

class CE2eDesktop;

QByteArray ReadFile(const QString& strPath);

struct HttpAnswer
{
    int nStatus = 0;
    QByteArray headers;
    QByteArray body;
};

// One GET on 127.0.0.1:nPort for Host localhost; nStatus stays 0 when nothing answers.
HttpAnswer HttpGet(quint16 nPort, const QString& strEncodedPath);

// Copies the site fixture (a module, a JSON file, a WebAssembly file and a page named strPageName)
// into strDir. The page ends with a comment that carries nCopy, so a page served from an older
// folder is told apart from it. Returns the page's path, or an empty string on failure.
QString CopySite(const QString& strFixtureDir, const QString& strDir, const QString& strPageName, int nCopy);

// The URLs the stand-in xdg-open recorded in strRecordDir, in order.
QStringList OpenedUrls(const QString& strRecordDir);

// The stand-in file manager (e2e_dragsource): one per drag, ended by the next drag or by Stop.
class CDragSource
{
public:
    CDragSource(const CE2eDesktop& desktop, QString strProgram, QPoint position);
    ~CDragSource();
    CDragSource(const CDragSource&) = delete;
    CDragSource& operator=(const CDragSource&) = delete;

    // A real drag of strFile: the mouse goes down on the source window, moves until the source
    // starts its drag, travels to `target` and is released only once the target has answered that
    // it takes the drop (or the wait ran out; the mouse is released either way). True if accepted.
    bool DragOnto(const QString& strFile, const QPoint& target, int nTimeoutMs);
    void Stop();
    // What the source said during the last drag ("ready", "dragging", ...).
    QByteArray Output() const { return m_output; }
    // Milliseconds since the mouse was released over the target in the last drag.
    qint64 MsSinceRelease() const { return m_sinceRelease.elapsed(); }

private:
    bool Start(const QString& strFile, int nTimeoutMs);
    bool WaitForLine(const QByteArray& prefix, int nTimeoutMs);

    const CE2eDesktop& m_desktop;
    QString m_strProgram;
    QPoint m_position;
    std::unique_ptr<QProcess> m_pProcess;
    QByteArray m_output;
    QElapsedTimer m_sinceRelease;
};

// After a failed test function: keeps what a person needs to see what went wrong in strOutputDir,
// named after the function (the screen before, from strBeforeShot, and now; every record; what the
// drag source said), replacing what an earlier failure of the same function left.
void KeepFailureOutput(const CE2eDesktop& desktop, const QString& strOutputDir, const QString& strBeforeShot,
                       const QString& strRecordDir, const QByteArray& dragSourceOutput);

// Exit code that CTest counts as a skip: the machine lacks a program or a display the suite needs.
constexpr int SkipExitCode = 77;

// Starts an Xvfb desktop of `size` and runs the suite TSuite (constructed with the desktop) on it.
// A skip, saying why, when `missing` (called once the application exists) names absent programs
// or no display starts.
template <class TSuite>
int RunOnDesktop(int argc, char* argv[], QStringList (*missing)(), const QString& strInstallHint, const QSize& size)
{
    QCoreApplication app(argc, argv);
    const QStringList absent = missing();
    if (!absent.isEmpty())
    {
        std::printf("SKIP: %s needs %s (%s)\n", argv[0], qPrintable(absent.join(QStringLiteral(", "))),
                    qPrintable(strInstallHint));
        return SkipExitCode;
    }
    CE2eDesktop desktop;
    QString strError;
    if (!desktop.Start(size, &strError))
    {
        std::printf("SKIP: no X display for %s: %s\n", argv[0], qPrintable(strError));
        return SkipExitCode;
    }
    TSuite suite(&desktop);
    const int nResult = QTest::qExec(&suite, argc, argv);
    desktop.Stop();
    return nResult;
}

} // namespace E2e
} // namespace Corvan

#include "app/StartUp.h"
#include "mainwindow/CCorvanHTMLStarter.h"
#include "mainwindow/UserMessage.h"

#include <QApplication>
#include <QScreen>
#include <QtTest>

using namespace Corvan;

class TestStartUp : public QObject
{
    Q_OBJECT

private slots:
    void bottomRight_data();
    void bottomRight();
    void screenUnder_data();
    void screenUnder();
    void showsOnTheCursorScreen();
    void commandLineFile_data();
    void commandLineFile();
    void oneWindowOnly();
    void noAnswerBoxHasTheLook();
};

void TestStartUp::bottomRight_data()
{
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("1920x1080 at origin") << QRect(0, 0, 1920, 1080) << QPoint(1665, 785);
    QTest::newRow("1366x768 at origin") << QRect(0, 0, 1366, 768) << QPoint(1111, 473);
    QTest::newRow("second screen to the right") << QRect(1920, 0, 1366, 768) << QPoint(1920 + 1111, 473);
    QTest::newRow("screen above the primary") << QRect(0, -768, 1366, 768) << QPoint(1111, -768 + 473);
    QTest::newRow("screen left of the primary") << QRect(-1280, 200, 1280, 1024) << QPoint(-1280 + 1025, 200 + 729);
}

void TestStartUp::bottomRight()
{
    QFETCH(QRect, screen);
    QFETCH(QPoint, expected);
    QCOMPARE(BottomRightPosition(screen, QSize(250, 250)), expected);
}

void TestStartUp::screenUnder_data()
{
    const QRect primary(0, 0, 1920, 1080);
    const QRect right(1920, 0, 1366, 768);
    const QRect above(0, -768, 1366, 768);
    QTest::addColumn<QPoint>("cursor");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("on the primary") << QPoint(100, 100) << primary;
    QTest::newRow("on the right screen") << QPoint(2000, 10) << right;
    QTest::newRow("last pixel of the primary") << QPoint(1919, 1079) << primary;
    QTest::newRow("first pixel of the right screen") << QPoint(1920, 0) << right;
    QTest::newRow("on the screen above") << QPoint(5, -5) << above;
    QTest::newRow("in no screen falls back to the primary") << QPoint(3000, 1000) << primary;
}

void TestStartUp::screenUnder()
{
    QFETCH(QPoint, cursor);
    QFETCH(QRect, expected);
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1366, 768), QRect(0, -768, 1366, 768)};
    QCOMPARE(ScreenUnder(cursor, screens), expected);
}

void TestStartUp::showsOnTheCursorScreen()
{
    QWidget window;
    window.setFixedSize(250, 250);
    ShowAtBottomRight(&window);
    QVERIFY(window.isVisible());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(window.pos(), QPoint(screen.right() + 1 - 255, screen.bottom() + 1 - 295));
}

void TestStartUp::commandLineFile_data()
{
    const QString cwd = QStringLiteral("/home/ann/work");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no argument") << QStringList{"corvan-html-starter"} << "";
    QTest::newRow("absolute") << QStringList{"corvan-html-starter", "/srv/site/index.html"} << "/srv/site/index.html";
    QTest::newRow("relative to the working folder")
        << QStringList{"corvan-html-starter", "site/my page.html"} << cwd + "/site/my page.html";
    QTest::newRow("dot segments") << QStringList{"corvan-html-starter", "../x.html"} << "/home/ann/x.html";
    QTest::newRow("only the first counts")
        << QStringList{"corvan-html-starter", "a.html", "b.html", "c.txt"} << cwd + "/a.html";
    QTest::newRow("non-ASCII and #") << QStringList{"corvan-html-starter", QString::fromUtf8("/tmp/Übersicht #1.html")}
                                     << QString::fromUtf8("/tmp/Übersicht #1.html");
    QTest::newRow("file URL, encoded") << QStringList{"corvan-html-starter",
                                                      "file:///tmp/folder%20with%20blanks/%C3%9Cber%231.html"}
                                       << QString::fromUtf8("/tmp/folder with blanks/Über#1.html");
    QTest::newRow("web address has no local file")
        << QStringList{"corvan-html-starter", "https://corvan-works.example/page.html"} << "";
    QTest::newRow("refused files still get through to the check")
        << QStringList{"corvan-html-starter", "notes.txt"} << cwd + "/notes.txt";
    QTest::newRow("empty argument") << QStringList{"corvan-html-starter", ""} << "";
}

void TestStartUp::commandLineFile()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QCOMPARE(CommandLineFile(arguments, QStringLiteral("/home/ann/work")), QDir::toNativeSeparators(expected));
}

void TestStartUp::oneWindowOnly()
{
    CCorvanHTMLStarter* first = CCorvanHTMLStarter::Instance();
    QVERIFY(first);
    QCOMPARE(CCorvanHTMLStarter::Instance(), first);
    QCOMPARE(QApplication::topLevelWidgets().count(first), 1);
}

void TestStartUp::noAnswerBoxHasTheLook()
{
    QApplication::setStyle(QStringLiteral("Windows"));
    qApp->setStyleSheet(QString());
    QString title;
    bool sheet = false;
    UserMessage::SetRecorder(
        [&](QWidget*, const QString& strTitle, const QString&)
        {
            title = strTitle;
            sheet = !qApp->styleSheet().isEmpty();
        });
    ReportNoAnswer(QStringLiteral("Corvan Atelier 9"));
    UserMessage::SetRecorder(nullptr);
    QCOMPARE(title, QStringLiteral("Corvan Atelier 9"));
    QVERIFY(sheet);
}

QTEST_MAIN(TestStartUp)
#include "tst_startup.moc"

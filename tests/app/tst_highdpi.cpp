// The window on a 200 % display (or the scale CTest gives in QT_SCALE_FACTOR, 150 %): the start-up's
// scaling switched on as main does, the scale that a desktop would give forced through the variable.
#include "app/StartUp.h"
#include "mainwindow/CCorvanHTMLStarter.h"

#include <QApplication>
#include <QScreen>
#include <QtTest>

using namespace Corvan;

class TestHighDpi : public QObject
{
    Q_OBJECT

private slots:
    void windowKeepsItsLogicalSize();
};

void TestHighDpi::windowKeepsItsLogicalSize()
{
    CCorvanHTMLStarter window;
    ShowAtBottomRight(&window);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble();
    QCOMPARE(window.devicePixelRatioF(), scale);
    QCOMPARE(window.size(), QSize(250, 250));
    QCOMPARE(window.grab().size(), QSize(250, 250) * scale);
    // Placed in the screen's logical coordinates: 5 and 45 logical pixels in from the corner.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(window.geometry().bottomRight(), screen.bottomRight() - QPoint(5, 45));
}

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR"))
        qputenv("QT_SCALE_FACTOR", "2");
    EnableHighDpiScaling();
    QApplication app(argc, argv);
    TestHighDpi test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_highdpi.moc"

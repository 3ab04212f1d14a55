// The window on a 200 % display: the start-up's scaling switched on as main does, the scale that a
// desktop would give forced through QT_SCALE_FACTOR.
#include "app/StartUp.h"
#include "mainwindow/CCorvanHTMLStarter.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>
#include <QToolButton>
#include <QtTest>

using namespace Corvan;

class TestHighDpi : public QObject
{
    Q_OBJECT

private slots:
    void windowKeepsItsLogicalSize();
    void imagesComeAtTwiceThePixels_data();
    void imagesComeAtTwiceThePixels();
};

void TestHighDpi::windowKeepsItsLogicalSize()
{
    CCorvanHTMLStarter window;
    ShowAtBottomRight(&window);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.devicePixelRatioF(), 2.0);
    QCOMPARE(window.size(), QSize(250, 250));
    QCOMPARE(window.grab().size(), QSize(500, 500));
    // Placed in the screen's logical coordinates: 5 and 45 logical pixels in from the corner.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(window.geometry().bottomRight(), screen.bottomRight() - QPoint(5, 45));
}

void TestHighDpi::imagesComeAtTwiceThePixels_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QSize>("logical");
    QTest::addColumn<QString>("sharp");
    QTest::newRow("close button") << "close" << QSize(13, 13) << ":/CorvanHTMLStarter/Resources/SmallClose@2x.png";
    QTest::newRow("window icon") << "window" << QSize(128, 128) << ":/CorvanHTMLStarter/Resources/Tools_iconz@2x.png";
}

void TestHighDpi::imagesComeAtTwiceThePixels()
{
    QFETCH(QString, what);
    QFETCH(QSize, logical);
    QFETCH(QString, sharp);
    CCorvanHTMLStarter window;
    const QIcon icon = what == QLatin1String("close")
                           ? window.findChild<QToolButton*>(QStringLiteral("closeToolButton"))->icon()
                           : window.windowIcon();
    // The drawn pixmap is the 2x image itself, not the small one blown up.
    const QPixmap pixmap = icon.pixmap(window.windowHandle(), logical);
    QCOMPARE(pixmap.size(), logical * 2);
    // Compared premultiplied, as pixmaps hold them: faint edge pixels round differently otherwise.
    const QImage drawn = pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage expected = QImage(sharp).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(drawn.size(), expected.size());
    int worst = 0;
    for (int y = 0; y < drawn.height(); ++y)
    {
        for (int x = 0; x < drawn.width(); ++x)
        {
            const QRgb a = drawn.pixel(x, y);
            const QRgb b = expected.pixel(x, y);
            worst = qMax(worst, qMax(qAbs(qAlpha(a) - qAlpha(b)), qAbs(qGray(a) - qGray(b))));
        }
    }
    QVERIFY2(worst <= 2, qPrintable(QString::number(worst)));
}

int main(int argc, char* argv[])
{
    qputenv("QT_SCALE_FACTOR", "2");
    EnableHighDpiScaling();
    QApplication app(argc, argv);
    TestHighDpi test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_highdpi.moc"

#include "droparea/CCorvanHTMLStarterDropAreaWidget.h"
#include "mainwindow/CCorvanHTMLStarter.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

using namespace Corvan;

namespace
{
const QRgb Surface = qRgb(0x2d, 0x2d, 0x2d);
const QRgb Text = qRgb(0xcc, 0xcc, 0xcc);
const QRgb ButtonFace = qRgb(0x3b, 0x3d, 0x3e);
const QRgb ButtonBorder = qRgb(0x67, 0x67, 0x67);
const QRgb Hover = qRgb(0x42, 0x42, 0x42);
const QRgb Accent = qRgb(0xe2, 0xb6, 0x39);
const QRgb FrameBorder = qRgb(0xa9, 0xa9, 0xa9);
const QRgb WatermarkInk = qRgb(0x22, 0x22, 0x22);
const QRgb Entry = qRgb(0x20, 0x20, 0x20);

QString Hex(QRgb colour)
{
    return QStringLiteral("#%1").arg(colour & 0xffffff, 6, 16, QLatin1Char('0'));
}

QImage Grab(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool Near(QRgb a, QRgb b, int tolerance)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

// Pixels of the image within the rectangle whose colour is within the tolerance of the given one.
int Count(const QImage& image, const QRect& area, QRgb colour, int tolerance = 0)
{
    int count = 0;
    const QRect clipped = area & image.rect();
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
    {
        for (int x = clipped.left(); x <= clipped.right(); ++x)
        {
            if (Near(image.pixel(x, y), colour, tolerance))
                ++count;
        }
    }
    return count;
}

QRect InWindow(QWidget* widget, QWidget* window)
{
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

QtMessageHandler s_previousHandler = nullptr;
QStringList s_warnings;

void RecordWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type >= QtWarningMsg)
        s_warnings << message;
    s_previousHandler(type, context, message);
}
} // namespace

class TestLook : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void surfaces_data();
    void surfaces();
    void dashedFrame();
    void watermarkCentredInTheFrame();
    void promptInAccentColour();
    void closeCross();
    void labels_data();
    void labels();
    void buttons_data();
    void buttons();
    void messageBox();
    void laterRulesWin_data();
    void laterRulesWin();
    void styleSheetParsesAndDrawsCleanly();

private:
    CCorvanHTMLStarter* m_pWindow = nullptr;
    QImage m_shot;
};

void TestLook::initTestCase()
{
    m_pWindow = new CCorvanHTMLStarter(nullptr);
    m_pWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_pWindow));
    m_shot = Grab(m_pWindow);
    QCOMPARE(m_shot.size(), QSize(250, 250));
}

void TestLook::cleanupTestCase()
{
    delete m_pWindow;
}

void TestLook::surfaces_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::newRow("top left, beside the close button") << QPoint(2, 2);
    QTest::newRow("top row, middle") << QPoint(125, 3);
    QTest::newRow("bottom left, where Copy URL appears") << QPoint(2, 247);
    QTest::newRow("bottom right corner") << QPoint(248, 248);
    // The drop area has the focus from the start, yet shows no focus line until the keyboard is used.
    auto* area = m_pWindow->findChild<CCorvanHTMLStarterDropAreaWidget*>();
    QVERIFY(area && area->hasFocus());
    QTest::newRow("inside the frame, where a focus line would run")
        << InWindow(area, m_pWindow).topLeft() + QPoint(20, 0);
}

void TestLook::surfaces()
{
    QFETCH(QPoint, at);
    QCOMPARE(Hex(m_shot.pixel(at)), Hex(Surface));
}

void TestLook::dashedFrame()
{
    QFrame* frame = m_pWindow->findChild<QFrame*>(QStringLiteral("mainFrame"));
    QVERIFY2(frame, "no mainFrame");
    const QRect area = InWindow(frame, m_pWindow);
    // Along each edge, 2 px of dashes in the border colour with the surface between them.
    const QList<QRect> edges = {
        QRect(area.left(), area.top(), area.width(), 2), QRect(area.left(), area.bottom() - 1, area.width(), 2),
        QRect(area.left(), area.top(), 2, area.height()), QRect(area.right() - 1, area.top(), 2, area.height())};
    for (const QRect& edge : edges)
    {
        const int pixels = edge.width() * edge.height();
        const int dashes = Count(m_shot, edge, FrameBorder);
        const int gaps = Count(m_shot, edge, Surface);
        QVERIFY2(dashes > pixels / 3 && gaps > pixels / 8 && dashes + gaps > pixels * 9 / 10,
                 qPrintable(QStringLiteral("edge %1,%2 %3x%4: %5 dash and %6 gap pixels of %7")
                                .arg(edge.x())
                                .arg(edge.y())
                                .arg(edge.width())
                                .arg(edge.height())
                                .arg(dashes)
                                .arg(gaps)
                                .arg(pixels)));
    }
}

void TestLook::watermarkCentredInTheFrame()
{
    QFrame* frame = m_pWindow->findChild<QFrame*>(QStringLiteral("mainFrame"));
    QVERIFY(frame);
    const QRect area = InWindow(frame, m_pWindow);
    // The opaque parts of the watermark show its exact colour; find them.
    QRect ink;
    for (int y = area.top(); y <= area.bottom(); ++y)
    {
        for (int x = area.left(); x <= area.right(); ++x)
        {
            if (m_shot.pixel(x, y) == WatermarkInk)
                ink |= QRect(x, y, 1, 1);
        }
    }
    QVERIFY2(!ink.isEmpty(), "no watermark in the frame");
    QVERIFY2(ink.width() > 100 && ink.width() <= 140 && ink.height() > 90 && ink.height() <= 140,
             qPrintable(QStringLiteral("%1 x %2").arg(ink.width()).arg(ink.height())));
    QVERIFY2((ink.center() - area.center()).manhattanLength() <= 4,
             qPrintable(QStringLiteral("watermark centre (%1, %2), frame centre (%3, %4)")
                            .arg(ink.center().x())
                            .arg(ink.center().y())
                            .arg(area.center().x())
                            .arg(area.center().y())));
    // Drawn once: inside the frame's border but beyond the watermark, the plain surface.
    QCOMPARE(Hex(m_shot.pixel(area.left() + 4, area.top() + 4)), Hex(Surface));
}

void TestLook::promptInAccentColour()
{
    QLabel* prompt = nullptr;
    for (QLabel* label : m_pWindow->findChildren<QLabel*>())
    {
        if (label->text() == QLatin1String("Drop HTML file to open locally"))
            prompt = label;
    }
    if (!prompt)
        QSKIP("the drop area shows no prompt in this build");
    const QRect area = InWindow(prompt, m_pWindow);
    QVERIFY2(Count(m_shot, area, Accent, 24) > 40,
             qPrintable(QStringLiteral("%1 accent pixels").arg(Count(m_shot, area, Accent, 24))));
    // The prompt lies over the watermark: its own ground is transparent.
    QCOMPARE(Count(m_shot, area, ButtonFace), 0);
}

void TestLook::closeCross()
{
    QToolButton* close = m_pWindow->findChild<QToolButton*>(QStringLiteral("closeToolButton"));
    QVERIFY2(close, "no closeToolButton");
    const QRect area = InWindow(close, m_pWindow);
    // The 13 x 13 cross at its own size: exact text-grey pixels on the bare surface, no border.
    QVERIFY2(Count(m_shot, area, Text) >= 9, qPrintable(QString::number(Count(m_shot, area, Text))));
    QCOMPARE(Hex(m_shot.pixel(area.topLeft())), Hex(Surface));
    QCOMPARE(Hex(m_shot.pixel(area.bottomRight())), Hex(Surface));
}

void TestLook::labels_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRgb>("colour");
    QTest::newRow("Powerd By") << QStringLiteral("label_2") << Text;
    QTest::newRow("vendor link") << QStringLiteral("label") << Accent;
}

void TestLook::labels()
{
    QFETCH(QString, name);
    QFETCH(QRgb, colour);
    QLabel* label = m_pWindow->findChild<QLabel*>(name);
    QVERIFY(label);
    const QRect area = InWindow(label, m_pWindow);
    QVERIFY2(Count(m_shot, area, colour, 24) > 15, qPrintable(QString::number(Count(m_shot, area, colour, 24))));
    QCOMPARE(Hex(m_shot.pixel(area.topLeft())), Hex(Surface));
}

void TestLook::buttons_data()
{
    QTest::addColumn<bool>("push");
    QTest::addColumn<bool>("hovered");
    QTest::addColumn<QRgb>("face");
    QTest::newRow("Copy URL") << true << false << ButtonFace;
    QTest::newRow("Copy URL under the mouse") << true << true << Hover;
    QTest::newRow("close under the mouse") << false << true << Hover;
}

void TestLook::buttons()
{
    QFETCH(bool, push);
    QFETCH(bool, hovered);
    QFETCH(QRgb, face);
    QAbstractButton* button = push ? static_cast<QAbstractButton*>(m_pWindow->findChild<QPushButton*>(
                                         QStringLiteral("copyToClipboardPushButton")))
                                   : m_pWindow->findChild<QToolButton*>(QStringLiteral("closeToolButton"));
    QVERIFY(button);
    const bool wasVisible = button->isVisible();
    button->setVisible(true);
    QCoreApplication::processEvents();
    // A real move of the pointer: the hover look follows the enter and hover events it causes.
    QTest::mouseMove(hovered ? static_cast<QWidget*>(button) : m_pWindow,
                     hovered ? button->rect().center() : QPoint(2, 2));
    QTRY_COMPARE(button->underMouse(), hovered);
    const QImage image = Grab(button);
    QTest::mouseMove(m_pWindow, QPoint(2, 2));
    button->setVisible(wasVisible);

    const int middle = image.height() / 2;
    if (push)
    {
        // A 1 px border on every side, square corners, then the face.
        QCOMPARE(Hex(image.pixel(0, middle)), Hex(ButtonBorder));
        QCOMPARE(Hex(image.pixel(image.width() - 1, middle)), Hex(ButtonBorder));
        QCOMPARE(Hex(image.pixel(0, 0)), Hex(ButtonBorder));
        QCOMPARE(Hex(image.pixel(2, middle)), Hex(face));
        QVERIFY(Count(image, image.rect(), Text, 24) > 10);
    }
    else
    {
        QCOMPARE(Hex(image.pixel(0, 0)), Hex(face));
        QCOMPARE(Hex(image.pixel(0, middle)), Hex(face));
    }
}

void TestLook::messageBox()
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Corvan"), QStringLiteral("URL Copied"), QMessageBox::Ok,
                    m_pWindow);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QImage image = Grab(&box);
    QCOMPARE(Hex(image.pixel(1, 1)), Hex(Surface));
    QCOMPARE(Hex(image.pixel(image.width() - 2, image.height() - 2)), Hex(Surface));
    QLabel* text = nullptr;
    for (QLabel* label : box.findChildren<QLabel*>())
    {
        if (label->text() == QLatin1String("URL Copied"))
            text = label;
    }
    QVERIFY(text);
    QVERIFY(Count(image, InWindow(text, &box), Text, 24) > 15);
    QPushButton* ok = box.findChild<QPushButton*>();
    QVERIFY(ok);
    const QImage button = Grab(ok);
    QCOMPARE(Hex(button.pixel(0, button.height() / 2)), Hex(ButtonBorder));
    QCOMPARE(Hex(button.pixel(2, button.height() / 2)), Hex(ButtonFace));
    box.close();
}

void TestLook::laterRulesWin_data()
{
    // Kinds this tool does not create, whose own rules come after the one for every widget.
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRgb>("ground");
    QTest::newRow("line edit") << QStringLiteral("QLineEdit") << Entry;
    QTest::newRow("plain text edit") << QStringLiteral("QPlainTextEdit") << Entry;
    QTest::newRow("spin box") << QStringLiteral("QSpinBox") << Entry;
    QTest::newRow("list") << QStringLiteral("QListWidget") << qRgb(0, 0, 0);
    QTest::newRow("plain widget") << QStringLiteral("QWidget") << Surface;
}

void TestLook::laterRulesWin()
{
    QFETCH(QString, kind);
    QFETCH(QRgb, ground);
    QScopedPointer<QWidget> widget(kind == QLatin1String("QLineEdit")        ? new QLineEdit
                                   : kind == QLatin1String("QPlainTextEdit") ? new QPlainTextEdit
                                   : kind == QLatin1String("QSpinBox")       ? new QSpinBox
                                   : kind == QLatin1String("QListWidget")    ? new QListWidget
                                                                             : new QWidget);
    widget->resize(120, 60);
    const QImage image = Grab(widget.data());
    QCOMPARE(Hex(image.pixel(6, image.height() - 6)), Hex(ground));
}

void TestLook::styleSheetParsesAndDrawsCleanly()
{
    // Parse the sheet afresh and draw a widget of every kind it styles; Qt warns about a sheet it
    // cannot parse and about images it cannot load.
    const QString sheet = qApp->styleSheet();
    QVERIFY(sheet.size() > 1000);
    s_warnings.clear();
    s_previousHandler = qInstallMessageHandler(RecordWarnings);
    qApp->setStyleSheet(QString());
    qApp->setStyleSheet(sheet);

    QWidget gallery;
    auto* tabs = new QTabWidget(&gallery);
    tabs->setTabsClosable(true);
    for (int i = 0; i < 12; ++i)
        tabs->addTab(new QLabel(QStringLiteral("page")), QStringLiteral("Tab %1").arg(i));
    tabs->setGeometry(0, 0, 200, 80);
    auto* tree = new QTreeWidget(&gallery);
    for (int i = 0; i < 3; ++i)
    {
        auto* item = new QTreeWidgetItem(tree, {QStringLiteral("item")});
        new QTreeWidgetItem(item, {QStringLiteral("child")});
        item->setExpanded(i == 0);
    }
    tree->setGeometry(0, 80, 200, 120);
    auto* combo = new QComboBox(&gallery);
    combo->addItems({QStringLiteral("one"), QStringLiteral("two")});
    combo->setGeometry(200, 0, 100, 24);
    (new QSpinBox(&gallery))->setGeometry(200, 30, 100, 24);
    (new QDoubleSpinBox(&gallery))->setGeometry(200, 60, 100, 24);
    (new QCheckBox(QStringLiteral("check"), &gallery))->setGeometry(200, 90, 100, 24);
    (new QRadioButton(QStringLiteral("radio"), &gallery))->setGeometry(200, 120, 100, 24);
    auto* group = new QGroupBox(QStringLiteral("group"), &gallery);
    group->setObjectName(QStringLiteral("MainGroupBox"));
    group->setGeometry(300, 0, 100, 60);
    (new QScrollBar(Qt::Vertical, &gallery))->setGeometry(300, 60, 12, 100);
    (new QScrollBar(Qt::Horizontal, &gallery))->setGeometry(320, 60, 80, 12);
    auto* line = new QFrame(&gallery);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(300, 180, 100, 2);
    auto* tool = new QToolButton(&gallery);
    tool->setPopupMode(QToolButton::MenuButtonPopup);
    auto* menu = new QMenu(tool);
    menu->addAction(QStringLiteral("entry"));
    menu->addSeparator();
    tool->setMenu(menu);
    tool->setGeometry(300, 200, 40, 24);
    gallery.resize(400, 240);
    Grab(&gallery);
    Grab(menu);

    qInstallMessageHandler(s_previousHandler);
    QVERIFY2(s_warnings.isEmpty(), qPrintable(s_warnings.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestLook)
#include "tst_look.moc"

#include "droparea/CCorvanHTMLStarterDropAreaWidget.h"
#include "mainwindow/CCorvanHTMLStarter.h"
#include "mainwindow/UserMessage.h"
#include "tests/support/MessageRecorder.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

using namespace Corvan;
using namespace CorvanTest;

namespace
{
template <typename T>
T* Child(QWidget* window, const char* name)
{
    T* child = window->findChild<T*>(QString::fromLatin1(name));
    if (!child)
        qWarning("no child named %s", name);
    return child;
}

// Runs the event loop until the code under test leaves it; a stuck loop ends with 99 after 10 s.
int RunUntilExit(const std::function<void()>& action)
{
    QTimer::singleShot(0, action);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    return QCoreApplication::exec();
}
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

public slots:
    void openUrl(const QUrl& url) { m_opened.append(url); }

private slots:
    void init();
    void cleanup();

    void windowIsFramelessAndFixed();
    void formTexts_data();
    void formTexts();
    void dropAreaIsTheFrameOnlyItem();
    void copyButtonHiddenAtFirst();
    void appearance();
    void copyPutsTheUrlOnTheClipboard();
    void copyShowsTheRealBox();
    void linkOpensTheVendorPage_data();
    void linkOpensTheVendorPage();
    void textsFitWithLargeDesktopFonts();
    void accessibleNames_data();
    void accessibleNames();
    void keyboardReachesTheFrameFirst();
    void fileFromOutsideIsTakenLikeADrop();
    void closeButtonExitsWithZero();
    void windowSystemCloseExitsWithZero();

private:
    QList<QUrl> m_opened;
    QList<Shown> m_shown;
};

void TestMainWindow::init()
{
    m_opened.clear();
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openUrl");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    RecordMessages(m_shown);
}

void TestMainWindow::cleanup()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    UserMessage::SetRecorder({});
}

void TestMainWindow::windowIsFramelessAndFixed()
{
    CCorvanHTMLStarter window;
    // Qt adds the window type bit to any widget without a parent; the hints are exactly ours.
    QCOMPARE(int(window.windowFlags() & ~Qt::WindowType_Mask), 0x5800);
    QCOMPARE(window.windowType(), Qt::Window);
    QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(window.minimumSize(), QSize(250, 250));
    QCOMPARE(window.maximumSize(), QSize(250, 250));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), QSize(250, 250));
    window.resize(400, 300);
    QCOMPARE(window.size(), QSize(250, 250));
    QCOMPARE(window.objectName(), QStringLiteral("CorvanHTMLStarterClass"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Corvan HTML Starter"));
}

void TestMainWindow::formTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("copy button") << "copyToClipboardPushButton"
                                 << "Copy URL";
    QTest::newRow("powered by") << "label_2"
                                << "Powerd By ";
    QTest::newRow("close button") << "closeToolButton"
                                  << "";
}

void TestMainWindow::formTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    CCorvanHTMLStarter window;
    QObject* object = window.findChild<QObject*>(name);
    QVERIFY2(object, qPrintable(name));
    QCOMPARE(object->property("text").toString(), text);
}

void TestMainWindow::dropAreaIsTheFrameOnlyItem()
{
    CCorvanHTMLStarter window;
    QFrame* frame = Child<QFrame>(&window, "mainFrame");
    QVERIFY(frame);
    QCOMPARE(frame->layout()->objectName(), QStringLiteral("horizontalLayout_5"));
    QCOMPARE(frame->layout()->count(), 1);
    QWidget* item = frame->layout()->itemAt(0)->widget();
    QVERIFY(qobject_cast<CCorvanHTMLStarterDropAreaWidget*>(item));
    QCOMPARE(item->parentWidget(), frame);
    QCOMPARE(frame->layout()->contentsMargins(), QMargins(6, 0, 6, 0));

    // The bottom row reads "Copy URL", then "Powerd By " and the maker's link at the right end.
    QLabel* poweredBy = Child<QLabel>(&window, "label_2");
    QLabel* link = Child<QLabel>(&window, "label");
    QVERIFY(poweredBy && link);
    QVERIFY(link->text().contains(QStringLiteral(">Corvan-Works<")));
    QVERIFY(link->text().startsWith(QStringLiteral("<html><head/><body><p><a href=")));
    QVERIFY(!link->openExternalLinks());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(poweredBy->geometry().right() < link->geometry().left());
    QVERIFY(link->geometry().right() <= window.width() - 9);
    QVERIFY(link->geometry().right() > window.width() / 2);
}

void TestMainWindow::copyButtonHiddenAtFirst()
{
    CCorvanHTMLStarter window;
    window.show();
    QPushButton* copy = Child<QPushButton>(&window, "copyToClipboardPushButton");
    QVERIFY(copy);
    QVERIFY(copy->isHidden());
    QVERIFY(window.URL().isEmpty());
    QVERIFY(!window.ServerProcess());
}

void TestMainWindow::appearance()
{
    CCorvanHTMLStarter window;
    // The application style sheet wraps the style, so compare what only Fusion draws with.
    QScopedPointer<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    QCOMPARE(QApplication::style()->standardPalette(), fusion->standardPalette());
    const QString frameStyle = Child<QFrame>(&window, "mainFrame")->styleSheet();
    QVERIFY(frameStyle.startsWith(QStringLiteral("QFrame#mainFrame {")));
    QVERIFY(frameStyle.contains(QStringLiteral("background-image:url(:/CorvanHTMLStarter/Resources/logoBG.png)")));
    QVERIFY(frameStyle.contains(QStringLiteral("border-style:dashed; border-width: 2px; border-color: #A9A9A9}")));
    QVERIFY(frameStyle.contains(QStringLiteral("background-repeat:no-repeat")));
}

void TestMainWindow::copyPutsTheUrlOnTheClipboard()
{
    CCorvanHTMLStarter window;
    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    QPushButton* copy = Child<QPushButton>(&window, "copyToClipboardPushButton");
    QVERIFY(copy);
    copy->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), window.URL());
    QCOMPARE(m_shown.size(), 1);
    QCOMPARE(m_shown[0].parent, &window);
    QCOMPARE(m_shown[0].title, QStringLiteral("Corvan"));
    QCOMPARE(m_shown[0].text, QStringLiteral("URL Copied"));
}

void TestMainWindow::copyShowsTheRealBox()
{
    UserMessage::SetRecorder({});
    CCorvanHTMLStarter window;
    window.show();
    CRealBoxCloser closer;
    Child<QPushButton>(&window, "copyToClipboardPushButton")->click();
    QCOMPARE(closer.title, QStringLiteral("Corvan"));
    QCOMPARE(closer.text, QStringLiteral("URL Copied"));
    QCOMPARE(closer.buttons, 1);
}

void TestMainWindow::linkOpensTheVendorPage_data()
{
    QTest::addColumn<QString>("linkText");
    QTest::newRow("the label's own link") << "https://corvan-works.example/";
    QTest::newRow("empty") << "";
    QTest::newRow("another site") << "https://elsewhere.example/evil";
    QTest::newRow("not a url") << "::: not a url :::";
}

void TestMainWindow::linkOpensTheVendorPage()
{
    QFETCH(QString, linkText);
    CCorvanHTMLStarter window;
    QLabel* link = Child<QLabel>(&window, "label");
    QVERIFY(link);
    emit link->linkActivated(linkText);
    QCOMPARE(m_opened, QList<QUrl>{QUrl(QStringLiteral("https://corvan-works.example/"))});
}

void TestMainWindow::textsFitWithLargeDesktopFonts()
{
    // A stock Debian desktop gives Qt programs an 11-point font. With Copy URL shown, every text of
    // the window must still get the room it asks for: nothing cut, nothing outside the window.
    const QFont before = QApplication::font();
    QFont large = before;
    large.setPointSize(11);
    QApplication::setFont(large);
    {
        CCorvanHTMLStarter window;
        Child<QPushButton>(&window, "copyToClipboardPushButton")->show();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.size(), QSize(250, 250));
        const auto widgets = window.findChildren<QWidget*>();
        int checked = 0;
        for (QWidget* widget : widgets)
        {
            auto* label = qobject_cast<QLabel*>(widget);
            if ((!label && !qobject_cast<QAbstractButton*>(widget)) || !widget->isVisible())
                continue;
            ++checked;
            const QString what = widget->objectName() + QLatin1Char(' ') + QString::number(widget->width()) +
                                 QLatin1String(" px wide, asks ") + QString::number(widget->sizeHint().width());
            const QRect onWindow(widget->mapTo(&window, QPoint(0, 0)), widget->size());
            QVERIFY2(window.rect().contains(onWindow), qPrintable(what));
            if (label && label->wordWrap())
            {
                QVERIFY2(label->heightForWidth(label->width()) <= label->height(), qPrintable(what));
                continue;
            }
            QVERIFY2(widget->width() >= widget->sizeHint().width(), qPrintable(what));
            QVERIFY2(widget->height() >= widget->minimumSizeHint().height(), qPrintable(what));
        }
        // The prompt, the close button and the bottom row's three.
        QCOMPARE(checked, 5);
    }
    QApplication::setFont(before);
}

void TestMainWindow::accessibleNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("accessibleName");
    QTest::newRow("close button") << "closeToolButton"
                                  << "Close";
    QTest::newRow("copy button") << "copyToClipboardPushButton"
                                 << "Copy URL";
    QTest::newRow("link") << "label"
                          << "Corvan-Works home page";
}

void TestMainWindow::accessibleNames()
{
    QFETCH(QString, name);
    QFETCH(QString, accessibleName);
    CCorvanHTMLStarter window;
    QWidget* widget = window.findChild<QWidget*>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(widget->accessibleName(), accessibleName);
    auto* area = window.findChild<CCorvanHTMLStarterDropAreaWidget*>();
    QVERIFY(area);
    QCOMPARE(area->accessibleName(), QStringLiteral("Drop HTML file to open locally"));
}

void TestMainWindow::keyboardReachesTheFrameFirst()
{
    CCorvanHTMLStarter window;
    auto* copy = Child<QPushButton>(&window, "copyToClipboardPushButton");
    auto* close = Child<QToolButton>(&window, "closeToolButton");
    auto* area = window.findChild<CCorvanHTMLStarterDropAreaWidget*>();
    QVERIFY(copy && close && area);
    copy->show();
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(area));
    QTest::keyClick(&window, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(copy));
    QTest::keyClick(&window, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(close));
}

void TestMainWindow::fileFromOutsideIsTakenLikeADrop()
{
    // A file from the command line or a later start: the drop's check, message and launch. What
    // cannot be served gets one message and no launch; a file handed over while a box is open waits.
    QTemporaryDir dir;
    const QString page = dir.filePath(QStringLiteral("index.html"));
    const QString notes = dir.filePath(QStringLiteral("notes.txt"));
    QVERIFY(QFile(page).open(QIODevice::WriteOnly) && QFile(notes).open(QIODevice::WriteOnly));
    QStringList launched;
    CCorvanHTMLStarterDropAreaWidget::SetLaunchHandler([&launched](const QString& path) { launched << path; });
    CCorvanHTMLStarter window;
    // Messages go to the same list as launches. The page comes while the first box is open: it is
    // launched only once that box is closed.
    UserMessage::SetRecorder(
        [&](QWidget*, const QString&, const QString& text)
        {
            launched << text;
            if (launched.size() == 1)
                window.OpenFile(page);
        });
    window.OpenFile(notes);
    window.OpenFile(QString());
    QVERIFY(window.isVisible());
    const QString missing = dir.filePath(QStringLiteral("no-folder/page.html"));
    window.OpenFile(missing);
    window.OpenFile(QStringLiteral("file://elsewhere/site/page.html"));
    CCorvanHTMLStarterDropAreaWidget::SetLaunchHandler({});

    QCOMPARE(launched, QStringList({"notes.txt is not supported", page,
                                    missing + " cannot be opened: there is no such file or folder.",
                                    "file://elsewhere/site/page.html cannot be opened: it is on another computer."}));
    QCOMPARE(window.findChild<CCorvanHTMLStarterDropAreaWidget*>()->StartFolder(), dir.path());
}

void TestMainWindow::closeButtonExitsWithZero()
{
    CCorvanHTMLStarter window;
    window.show();
    QToolButton* close = Child<QToolButton>(&window, "closeToolButton");
    QVERIFY(close);
    QCOMPARE(RunUntilExit([close] { close->click(); }), 0);
}

void TestMainWindow::windowSystemCloseExitsWithZero()
{
    CCorvanHTMLStarter window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(RunUntilExit([&window] { window.close(); }), 0);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

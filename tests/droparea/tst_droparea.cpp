#include "droparea/CCorvanHTMLStarterDropAreaWidget.h"
#include "mainwindow/CCorvanHTMLStarter.h"
#include "mainwindow/UserMessage.h"
#include "tests/support/MessageRecorder.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSpacerItem>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace Corvan;
using namespace CorvanTest;

namespace
{
const QString DefaultTitle = QStringLiteral("Corvan Atelier 9");

// What a drag sequence did: whether the enter was accepted and whether the drop was.
struct DragOutcome
{
    bool enterAccepted = false;
    bool dropAccepted = false;
};

// A whole drag over `target` as the window system delivers it: an enter, then a move and a drop when
// the enter was accepted, otherwise a leave. `mime` must outlive the call.
DragOutcome Drag(QWidget* target, const QMimeData* mime)
{
    DragOutcome outcome;
    const QPoint centre = target->rect().center();
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(centre, actions, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    outcome.enterAccepted = enter.isAccepted();
    if (!outcome.enterAccepted)
    {
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(target, &leave);
        return outcome;
    }
    QDragMoveEvent move(centre, actions, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    QDropEvent drop(centre, actions, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    outcome.dropAccepted = drop.isAccepted();
    return outcome;
}
} // namespace

class TestDropArea : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void widgetTree();
    void drop_data();
    void drop();
    void fileManagerUriList();
    void dragWithoutUrlsIsRefused();
    void dropOnTheToolWindow();
    void refusalShowsTheRealBox();

private:
    QString PathOf(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    QStringList m_launched;
    QList<Shown> m_shown;
};

void TestDropArea::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Real files and a real folder, as a file manager would offer them; the check itself only looks
    // at names.
    const QStringList files = {"index.html",
                               "page.HTML",
                               "page.htm",
                               "page.xhtml",
                               "archive.tar.html",
                               "report.final.html",
                               "my page.html",
                               "notes.txt",
                               "a#b.html",
                               "notes#1.txt",
                               QString::fromUtf8("Übersicht é.html"),
                               QString::fromUtf8("日本語.txt"),
                               "README",
                               "second.html",
                               "third.html"};
    for (const QString& name : files)
    {
        QFile file(PathOf(name));
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(name));
        file.write("<!doctype html>\n");
    }
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("site.html")));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("docs.html")));
}

void TestDropArea::init()
{
    m_launched.clear();
    CCorvanHTMLStarterDropAreaWidget::SetLaunchHandler([this](const QString& path) { m_launched.append(path); });
    RecordMessages(m_shown);
}

void TestDropArea::cleanup()
{
    CCorvanHTMLStarterDropAreaWidget::SetLaunchHandler({});
    UserMessage::SetRecorder({});
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void TestDropArea::widgetTree()
{
    QWidget parent;
    CCorvanHTMLStarterDropAreaWidget area(&parent);
    QCOMPARE(area.parentWidget(), &parent);
    QVERIFY(!area.isWindow());
    QVERIFY(area.acceptDrops());
    QVERIFY(area.testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(QString::fromLatin1(area.metaObject()->className()),
             QStringLiteral("Corvan::CCorvanHTMLStarterDropAreaWidget"));

    QLayout* areaLayout = area.layout();
    QVERIFY(qobject_cast<QVBoxLayout*>(areaLayout));
    QCOMPARE(areaLayout->contentsMargins(), QMargins(6, 0, 6, 0));
    QCOMPARE(areaLayout->count(), 1);
    QWidget* panel = areaLayout->itemAt(0)->widget();
    QVERIFY2(panel, "the panel is the area's only item");
    QCOMPARE(panel->parentWidget(), &area);
    QVERIFY(panel->testAttribute(Qt::WA_TranslucentBackground));

    QLayout* panelLayout = panel->layout();
    QVERIFY(qobject_cast<QVBoxLayout*>(panelLayout));
    QCOMPARE(panelLayout->contentsMargins(), QMargins(6, 0, 6, 0));
    QCOMPARE(panelLayout->count(), 3);
    for (int i : {0, 2})
    {
        QSpacerItem* spacer = panelLayout->itemAt(i)->spacerItem();
        QVERIFY2(spacer, "the prompt sits between two spacers");
        QCOMPARE(spacer->sizeHint(), QSize(1, 1));
        QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
        QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    }
    auto* prompt = qobject_cast<QLabel*>(panelLayout->itemAt(1)->widget());
    QVERIFY2(prompt, "the middle item is the prompt");
    QCOMPARE(prompt->text(), QStringLiteral("Drop HTML file to open locally"));
    QCOMPARE(prompt->alignment(), Qt::AlignCenter);
    QCOMPARE(prompt->styleSheet(), QStringLiteral("color: #e2b639;"));
    QCOMPARE(panelLayout->itemAt(1)->alignment(), Qt::Alignment());

    // The spacers keep the prompt in the vertical middle of the area.
    parent.resize(220, 160);
    area.resize(220, 160);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    const QRect promptOnArea(prompt->mapTo(&area, QPoint(0, 0)), prompt->size());
    QVERIFY(qAbs(promptOnArea.center().y() - area.rect().center().y()) <= 2);
    QCOMPARE(prompt->palette().color(QPalette::WindowText), QColor(QStringLiteral("#e2b639")));
}

void TestDropArea::drop_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<bool>("enterAccepted");
    QTest::addColumn<QString>("launched"); // the path that reached the launcher, or empty
    QTest::addColumn<QString>("message");  // the refusal's text, or empty

    const auto file = [this](const QString& name) { return QUrl::fromLocalFile(PathOf(name)); };
    const auto launches = [this](const QString& name) { return QDir::toNativeSeparators(PathOf(name)); };

    QTest::newRow("html") << QList<QUrl>{file("index.html")} << true << launches("index.html") << "";
    QTest::newRow("upper-case HTML") << QList<QUrl>{file("page.HTML")} << true << ""
                                     << "page.HTML is not supported";
    QTest::newRow("htm") << QList<QUrl>{file("page.htm")} << true << ""
                         << "page.htm is not supported";
    QTest::newRow("xhtml") << QList<QUrl>{file("page.xhtml")} << true << ""
                           << "page.xhtml is not supported";
    QTest::newRow("tar.html") << QList<QUrl>{file("archive.tar.html")} << true << ""
                              << "archive.tar.html is not supported";
    QTest::newRow("final.html") << QList<QUrl>{file("report.final.html")} << true << ""
                                << "report.final.html is not supported";
    QTest::newRow("no suffix") << QList<QUrl>{file("README")} << true << ""
                               << "README is not supported";
    QTest::newRow("text file") << QList<QUrl>{file("notes.txt")} << true << ""
                               << "notes.txt is not supported";
    QTest::newRow("folder named .html") << QList<QUrl>{file("site.html")} << true << launches("site.html") << "";
    QTest::newRow("missing file, name decides")
        << QList<QUrl>{file("gone.html")} << true << launches("gone.html") << "";
    QTest::newRow("text file inside an .html folder") << QList<QUrl>{file("docs.html/notes.txt")} << true << ""
                                                      << "notes.txt is not supported";
    QTest::newRow("spaces") << QList<QUrl>{file("my page.html")} << true << launches("my page.html") << "";
    QTest::newRow("hash") << QList<QUrl>{file("a#b.html")} << true << launches("a#b.html") << "";
    QTest::newRow("hash, refused") << QList<QUrl>{file("notes#1.txt")} << true << ""
                                   << "notes#1.txt is not supported";
    QTest::newRow("non-ASCII") << QList<QUrl>{file(QString::fromUtf8("Übersicht é.html"))} << true
                               << launches(QString::fromUtf8("Übersicht é.html")) << "";
    QTest::newRow("non-ASCII, refused") << QList<QUrl>{file(QString::fromUtf8("日本語.txt"))} << true << ""
                                        << QString::fromUtf8("日本語.txt is not supported");
    QTest::newRow("three files, text first")
        << QList<QUrl>{file("notes.txt"), file("index.html"), file("third.html")} << true << ""
        << "notes.txt is not supported";
    QTest::newRow("three html files") << QList<QUrl>{file("second.html"), file("index.html"), file("third.html")}
                                      << true << launches("second.html") << "";
    QTest::newRow("html first, then refused ones")
        << QList<QUrl>{file("index.html"), file("notes.txt"), file("page.htm")} << true << launches("index.html") << "";
    QTest::newRow("web link") << QList<QUrl>{QUrl(QStringLiteral("https://corvan-works.example/page.html"))} << true
                              << ""
                              << "";
    QTest::newRow("empty URL list") << QList<QUrl>{} << true << ""
                                    << "";
    QTest::newRow("web link, then a file")
        << QList<QUrl>{QUrl(QStringLiteral("https://corvan-works.example/page.html")), file("index.html")} << true << ""
        << "";
}

void TestDropArea::drop()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(bool, enterAccepted);
    QFETCH(QString, launched);
    QFETCH(QString, message);

    QWidget parent;
    auto* area = new CCorvanHTMLStarterDropAreaWidget(&parent);
    QMimeData mime;
    mime.setUrls(urls);
    const DragOutcome outcome = Drag(area, &mime);

    QCOMPARE(outcome.enterAccepted, enterAccepted);
    QVERIFY2(!outcome.dropAccepted, "the drag source is never told the drop took place");
    QCOMPARE(m_launched, launched.isEmpty() ? QStringList() : QStringList{launched});
    if (message.isEmpty())
    {
        QCOMPARE(m_shown.size(), 0);
        return;
    }
    QCOMPARE(m_shown.size(), 1);
    QCOMPARE(m_shown[0].parent, area);
    QCOMPARE(m_shown[0].title, DefaultTitle);
    QCOMPARE(m_shown[0].text, message);
}

void TestDropArea::fileManagerUriList()
{
    // File managers offer CRLF-separated, percent-encoded URIs; the area must see decoded local paths.
    QWidget parent;
    auto* area = new CCorvanHTMLStarterDropAreaWidget(&parent);
    const QByteArray first = QUrl::fromLocalFile(PathOf(QString::fromUtf8("Übersicht é.html"))).toEncoded();
    const QByteArray second = QUrl::fromLocalFile(PathOf(QStringLiteral("notes.txt"))).toEncoded();
    QVERIFY(first.contains("%20"));
    QMimeData mime;
    mime.setData(QStringLiteral("text/uri-list"), first + "\r\n" + second + "\r\n");
    QVERIFY(Drag(area, &mime).enterAccepted);
    QCOMPARE(m_launched, QStringList{QDir::toNativeSeparators(PathOf(QString::fromUtf8("Übersicht é.html")))});
    QCOMPARE(m_shown.size(), 0);
}

void TestDropArea::dragWithoutUrlsIsRefused()
{
    QWidget parent;
    auto* area = new CCorvanHTMLStarterDropAreaWidget(&parent);
    QMimeData text;
    text.setText(PathOf(QStringLiteral("index.html")));
    QVERIFY(!Drag(area, &text).enterAccepted);
    QMimeData nothing;
    QVERIFY(!Drag(area, &nothing).enterAccepted);
    QVERIFY(m_launched.isEmpty());
    QVERIFY(m_shown.isEmpty());
}

void TestDropArea::dropOnTheToolWindow()
{
    // The drop area that the main window puts into its frame does the same job.
    CCorvanHTMLStarter window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* area = window.findChild<CCorvanHTMLStarterDropAreaWidget*>();
    QVERIFY2(area, "the window holds a drop area");
    QCOMPARE(area->parentWidget(), window.findChild<QFrame*>(QStringLiteral("mainFrame")));

    QMimeData refused;
    refused.setUrls({QUrl::fromLocalFile(PathOf(QStringLiteral("notes.txt")))});
    Drag(area, &refused);
    QMimeData accepted;
    accepted.setUrls({QUrl::fromLocalFile(PathOf(QStringLiteral("index.html")))});
    Drag(area, &accepted);

    QCOMPARE(m_launched, QStringList{QDir::toNativeSeparators(PathOf(QStringLiteral("index.html")))});
    QCOMPARE(m_shown.size(), 1);
    QCOMPARE(m_shown[0].parent, area);
    QCOMPARE(m_shown[0].title, DefaultTitle);
    QCOMPARE(m_shown[0].text, QStringLiteral("notes.txt is not supported"));
    // A refusal leaves the window as it was.
    QVERIFY(window.URL().isEmpty());
    QVERIFY(!window.ServerProcess());
    QVERIFY(window.findChild<QPushButton*>(QStringLiteral("copyToClipboardPushButton"))->isHidden());
}

void TestDropArea::refusalShowsTheRealBox()
{
    UserMessage::SetRecorder({});
    QWidget parent;
    auto* area = new CCorvanHTMLStarterDropAreaWidget(&parent);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));

    CRealBoxCloser closer;
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(PathOf(QStringLiteral("notes.txt")))});
    Drag(area, &mime);

    QCOMPARE(closer.title, DefaultTitle);
    QCOMPARE(closer.text, QStringLiteral("notes.txt is not supported"));
    QCOMPARE(closer.parent, area);
    QCOMPARE(closer.buttons, 1);
    QVERIFY(closer.hasOk);
    QVERIFY(m_launched.isEmpty());
}

QTEST_MAIN(TestDropArea)
#include "tst_droparea.moc"

#include "droparea/CCorvanHTMLStarterDropAreaWidget.h"
#include "mainwindow/CCorvanHTMLStarter.h"
#include "mainwindow/UserMessage.h"
#include "tests/support/MessageRecorder.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
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
    void chooseFile_data();
    void chooseFile();
    void dialogStartsInTheLastLaunchedFolder();
    void realFileDialog();
    void keyboardFocusShows();

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
    CCorvanHTMLStarterDropAreaWidget::SetFileChooser({});
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

void TestDropArea::chooseFile_data()
{
    // A gesture on the area; then what the user picks in the dialog (empty: cancelled).
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<bool>("dialogShown");
    QTest::addColumn<QString>("launched");
    QTest::addColumn<QString>("message");
    const QString html = PathOf(QStringLiteral("my page.html"));
    QTest::newRow("click, html") << "click" << html << true << QDir::toNativeSeparators(html) << "";
    QTest::newRow("Enter") << "Return" << html << true << QDir::toNativeSeparators(html) << "";
    QTest::newRow("keypad Enter") << "Enter" << html << true << QDir::toNativeSeparators(html) << "";
    QTest::newRow("Space") << "Space" << html << true << QDir::toNativeSeparators(html) << "";
    QTest::newRow("cancelled") << "click"
                               << "" << true << ""
                               << "";
    QTest::newRow("typed a refused name") << "click" << PathOf(QStringLiteral("page.HTML")) << true << ""
                                          << "page.HTML is not supported";
    QTest::newRow("non-ASCII") << "Return" << PathOf(QString::fromUtf8("Übersicht é.html")) << true
                               << QDir::toNativeSeparators(PathOf(QString::fromUtf8("Übersicht é.html"))) << "";
    QTest::newRow("right click") << "right click" << html << false << ""
                                 << "";
    QTest::newRow("press, then release outside") << "drag off" << html << false << ""
                                                 << "";
    QTest::newRow("Ctrl+Enter") << "Ctrl+Return" << html << false << ""
                                << "";
    QTest::newRow("other key") << "A" << html << false << ""
                               << "";
}

void TestDropArea::chooseFile()
{
    QFETCH(QString, gesture);
    QFETCH(QString, chosen);
    QFETCH(bool, dialogShown);
    QFETCH(QString, launched);
    QFETCH(QString, message);

    int asked = 0;
    CCorvanHTMLStarterDropAreaWidget::SetFileChooser(
        [&](QWidget*, const QString&)
        {
            ++asked;
            return chosen;
        });
    QWidget parent;
    parent.resize(220, 160);
    auto* area = new CCorvanHTMLStarterDropAreaWidget(&parent);
    area->resize(220, 160);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    const QPoint centre = area->rect().center();
    if (gesture == QLatin1String("click"))
        QTest::mouseClick(area, Qt::LeftButton, Qt::NoModifier, centre);
    else if (gesture == QLatin1String("right click"))
        QTest::mouseClick(area, Qt::RightButton, Qt::NoModifier, centre);
    else if (gesture == QLatin1String("drag off"))
    {
        QTest::mousePress(area, Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseRelease(area, Qt::LeftButton, Qt::NoModifier, QPoint(-20, -20));
    }
    else if (gesture == QLatin1String("Return"))
        QTest::keyClick(area, Qt::Key_Return);
    else if (gesture == QLatin1String("Enter"))
        QTest::keyClick(area, Qt::Key_Enter, Qt::KeypadModifier);
    else if (gesture == QLatin1String("Space"))
        QTest::keyClick(area, Qt::Key_Space);
    else if (gesture == QLatin1String("Ctrl+Return"))
        QTest::keyClick(area, Qt::Key_Return, Qt::ControlModifier);
    else
        QTest::keyClick(area, Qt::Key_A);

    QCOMPARE(asked, dialogShown ? 1 : 0);
    QCOMPARE(m_launched, launched.isEmpty() ? QStringList() : QStringList{launched});
    QCOMPARE(m_shown.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty())
    {
        QCOMPARE(m_shown[0].title, DefaultTitle);
        QCOMPARE(m_shown[0].text, message);
    }
}

void TestDropArea::dialogStartsInTheLastLaunchedFolder()
{
    QStringList startFolders;
    QString answer;
    CCorvanHTMLStarterDropAreaWidget::SetFileChooser(
        [&](QWidget*, const QString& strStart)
        {
            startFolders << strStart;
            return answer;
        });
    QWidget parent;
    auto* area = new CCorvanHTMLStarterDropAreaWidget(&parent);
    QTest::keyClick(area, Qt::Key_Return);

    // A file launched from elsewhere (a drop) moves the start; a refused or cancelled one does not.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(PathOf(QStringLiteral("docs.html/index.html")))});
    Drag(area, &mime);
    QTest::keyClick(area, Qt::Key_Return);
    area->OpenFile(PathOf(QStringLiteral("notes.txt")));
    answer = PathOf(QStringLiteral("index.html"));
    QTest::keyClick(area, Qt::Key_Return);
    answer.clear();
    QTest::keyClick(area, Qt::Key_Return);

    QCOMPARE(startFolders, QStringList({QDir::homePath(), PathOf(QStringLiteral("docs.html")),
                                        PathOf(QStringLiteral("docs.html")), m_dir.path()}));
}

void TestDropArea::realFileDialog()
{
    // The real dialog: filtered to HTML files, in the start folder; a name typed into it is opened.
    QWidget parent;
    auto* area = new CCorvanHTMLStarterDropAreaWidget(&parent);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QStringList filters;
    QString folder;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout,
                     [&]
                     {
                         auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                         if (!dialog)
                             return;
                         closer.stop();
                         filters = dialog->nameFilters();
                         folder = dialog->directory().absolutePath();
                         dialog->selectFile(PathOf(QStringLiteral("my page.html")));
                         static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides it; the dialog takes it as Open
                     });
    closer.start(10);
    QTest::mouseClick(area, Qt::LeftButton, Qt::NoModifier, area->rect().center());
    QCOMPARE(filters, QStringList{QStringLiteral("HTML files (*.html)")});
    QCOMPARE(folder, QDir::homePath());
    QCOMPARE(m_launched, QStringList{QDir::toNativeSeparators(PathOf(QStringLiteral("my page.html")))});
    QVERIFY(!QApplication::activeModalWidget());
}

void TestDropArea::keyboardFocusShows()
{
    // Tab reaches the area, and the area shows it has the focus with a line in the accent colour.
    QWidget parent;
    auto* before = new QPushButton(QStringLiteral("before"), &parent);
    auto* area = new CCorvanHTMLStarterDropAreaWidget(&parent);
    auto* layout = new QVBoxLayout(&parent);
    layout->addWidget(before);
    layout->addWidget(area);
    parent.resize(220, 200);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QVERIFY(!area->accessibleName().isEmpty());
    const auto accentPixels = [area]
    {
        const QImage image = area->grab().toImage();
        int count = 0;
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, 0) == QColor(QStringLiteral("#e2b639")) ? 1 : 0;
        return count;
    };
    before->setFocus();
    QVERIFY(before->hasFocus());
    const int unfocused = accentPixels();
    QTest::keyClick(before, Qt::Key_Tab);
    QTRY_VERIFY(area->hasFocus());
    QCOMPARE(unfocused, 0);
    QVERIFY2(accentPixels() > area->width() / 2, "no focus line along the top edge");
    // A click (here on the file dialog, answered at once) is no keyboard use: the line goes.
    CCorvanHTMLStarterDropAreaWidget::SetFileChooser([](QWidget*, const QString&) { return QString(); });
    QTest::mouseClick(area, Qt::LeftButton);
    CCorvanHTMLStarterDropAreaWidget::SetFileChooser({});
    QVERIFY(area->hasFocus());
    QCOMPARE(accentPixels(), 0);
}

QTEST_MAIN(TestDropArea)
#include "tst_droparea.moc"

#include "mainwindow/CCorvanHTMLStarter.h"

#include "droparea/CCorvanHTMLStarterDropAreaWidget.h"
#include "mainwindow/UserMessage.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QIcon>
#include <QPixmap>
#include <QProcess>
#include <QStyleFactory>
#include <QUrl>

// Q_INIT_RESOURCE declares the collection's registration function where it stands, so it must stand
// outside any namespace.
static void RegisterCustomizedUIResources()
{
    Q_INIT_RESOURCE(CorvanCustomizedUI);
}

namespace Corvan
{

const char* const CCorvanHTMLStarter::HomePageURL = "https://corvan-works.example/";

namespace
{
CCorvanHTMLStarter* s_pInstance = nullptr;

// The style sheet resource is text up to its first NUL byte, Latin-1 encoded.
QString ReadStyleSheet(const QString& strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray data = file.readAll();
    file.close();
    const int nul = data.indexOf('\0');
    if (nul >= 0)
        data.truncate(nul);
    return QString::fromLatin1(data);
}
} // namespace

CCorvanHTMLStarter* CCorvanHTMLStarter::Instance()
{
    if (!s_pInstance)
        s_pInstance = new CCorvanHTMLStarter(nullptr);
    return s_pInstance;
}

CCorvanHTMLStarter::CCorvanHTMLStarter(QWidget* parent) : QMainWindow(parent, Qt::WindowFlags())
{
    // Already registered before main; registering again adds nothing but keeps the style sheet
    // reachable from any program that builds this window.
    RegisterCustomizedUIResources();

    ui.setupUi(this);
    m_pServerProcess = nullptr;

    m_pDropArea = new CCorvanHTMLStarterDropAreaWidget(this);
    ui.mainFrame->layout()->addWidget(m_pDropArea);

    setWindowFlags(Qt::WindowFlags(0x5800));

    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    qApp->setStyleSheet(ReadStyleSheet(QStringLiteral(":/CorvanCustomizedUI/Resources/CorvanMainStyle.qss")));

    ui.mainFrame->setStyleSheet(
        QStringLiteral("QFrame#mainFrame {background-image:url(%0); background-repeat:no-repeat; "
                       "background-position: center; background-origin: content; border-style:dashed; "
                       "border-width: 2px; border-color: %1}")
            .arg(QStringLiteral(":/CorvanHTMLStarter/Resources/logoBG.png"), QStringLiteral("#A9A9A9")));

    ui.copyToClipboardPushButton->hide();

    // Icons from the file name, not from one pixmap: QIcon then also takes the "@2x" image beside
    // it, which a 200 % display draws instead of blowing the small one up.
    setWindowIcon(QIcon(QStringLiteral(":/CorvanHTMLStarter/Resources/Tools_iconz.png")));
    ui.closeToolButton->setIcon(QIcon(QStringLiteral(":/CorvanHTMLStarter/Resources/SmallClose.png")));

    // The bottom row was laid out for small Windows fonts; in a desktop's larger ones "Copy URL",
    // "Powerd By " and the link no longer fit 250 pixels and the link was cut. Their size follows the
    // window, which is fixed in pixels, and not the desktop's font size (the face still does).
    for (QWidget* footer : {static_cast<QWidget*>(ui.copyToClipboardPushButton), static_cast<QWidget*>(ui.label_2),
                            static_cast<QWidget*>(ui.label)})
        footer->setStyleSheet(QStringLiteral("font-size: 11px;"));

    // What screen readers say for the controls that show no text or only an image.
    ui.closeToolButton->setAccessibleName(QStringLiteral("Close"));
    ui.copyToClipboardPushButton->setAccessibleName(QStringLiteral("Copy URL"));
    ui.label->setAccessibleName(QStringLiteral("Corvan-Works home page"));

    // Keyboard order: the frame first (Enter opens the file dialog), then Copy URL, then close.
    setTabOrder(m_pDropArea, ui.copyToClipboardPushButton);
    setTabOrder(ui.copyToClipboardPushButton, ui.closeToolButton);
    m_pDropArea->setFocus();
}

void CCorvanHTMLStarter::OpenFile(const QString& strPath)
{
    show();
    raise();
    activateWindow();
    if (!strPath.isEmpty())
        m_pDropArea->OpenFile(strPath);
}

CCorvanHTMLStarter::~CCorvanHTMLStarter()
{
    m_pDropArea = nullptr;
}

void CCorvanHTMLStarter::Shutdown()
{
    if (m_pServerProcess)
        m_pServerProcess->close();
    QCoreApplication::exit(0);
}

void CCorvanHTMLStarter::closeEvent(QCloseEvent* event)
{
    event->accept();
    Shutdown();
}

void CCorvanHTMLStarter::on_closeToolButton_clicked()
{
    Shutdown();
}

void CCorvanHTMLStarter::on_copyToClipboardPushButton_clicked()
{
    QGuiApplication::clipboard()->setText(m_strURL, QClipboard::Clipboard);
    UserMessage::Information(this, QStringLiteral("Corvan"), QStringLiteral("URL Copied"));
}

void CCorvanHTMLStarter::on_label_linkActivated(QString)
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(HomePageURL), QUrl::TolerantMode));
}

} // namespace Corvan

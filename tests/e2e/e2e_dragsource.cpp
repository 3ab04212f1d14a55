// A stand-in for a file manager: a window that, when the mouse is pressed on it and moved, starts a
// real drag carrying one file as text/uri-list. The end-to-end suite moves the mouse with xdotool.
//
// Usage: e2e_dragsource FILE X Y
// The window is placed at (X, Y) (there is no window manager under Xvfb, so placement is exact).
// Lines on standard output tell the driver where the drag is, so it never has to guess with sleeps:
//   "ready"              the window is mapped and can be pressed on
//   "dragging"           the drag has started (the mouse is grabbed by the drag)
//   "accepted"           the window under the mouse answered that it would take the drop
//   "finished ACTION"    the drag ended (ACTION is the drop action the target reported)
// With CORVAN_LAUNCH_TRACE set, it stamps there the moment the X server hands it the button release
// ("button-release"), the drag's end as the user makes it, without the driver's own start-up time.
// The program stays up after the drag, because the drop target fetches the data from it after the
// release; the driver ends it.

#include "tests/e2e/E2eHelperWindow.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextStream>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <cstdio>

#include <xcb/xcb.h>

namespace
{

using CorvanTest::Report;

class CReleaseStamp : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray& eventType, void* message, long*) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        // Qt takes the mouse through XInput 2 where the server offers it (Xvfb does), so the release
        // comes as XI_ButtonRelease (5) in a generic event, or else as the core event.
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        const int type = event->response_type & 0x7f;
        if (type == XCB_BUTTON_RELEASE ||
            (type == XCB_GE_GENERIC && static_cast<const xcb_ge_generic_event_t*>(message)->event_type == 5))
        {
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            if (std::FILE* file = std::fopen(qgetenv("CORVAN_LAUNCH_TRACE").constData(), "a"))
            {
                std::fprintf(
                    file, "button-release %lld\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(now).count()));
                std::fclose(file);
            }
        }
        return false;
    }
};

class CDragSourceWindow : public QWidget
{
public:
    explicit CDragSourceWindow(const QString& strFile) : m_strFile(strFile)
    {
        setWindowTitle(QStringLiteral("e2e drag source"));
        setFixedSize(160, 120);
    }

protected:
    void mousePressEvent(QMouseEvent* pEvent) override
    {
        if (pEvent->button() == Qt::LeftButton)
        {
            m_pressPos = pEvent->pos();
            m_bPressed = true;
        }
    }

    void mouseMoveEvent(QMouseEvent* pEvent) override
    {
        if (!m_bPressed || (pEvent->pos() - m_pressPos).manhattanLength() < QApplication::startDragDistance())
        {
            return;
        }
        m_bPressed = false;

        auto* pMime = new QMimeData;
        pMime->setUrls({QUrl::fromLocalFile(m_strFile)});
        auto* pDrag = new QDrag(this);
        pDrag->setMimeData(pMime);
        QObject::connect(pDrag, &QDrag::actionChanged,
                         [](Qt::DropAction action)
                         {
                             if (action != Qt::IgnoreAction)
                             {
                                 Report(QStringLiteral("accepted"));
                             }
                         });
        Report(QStringLiteral("dragging"));
        const Qt::DropAction result = pDrag->exec(Qt::CopyAction | Qt::LinkAction, Qt::CopyAction);
        Report(QStringLiteral("finished %1").arg(static_cast<int>(result)));
    }

    void mouseReleaseEvent(QMouseEvent*) override { m_bPressed = false; }

private:
    QString m_strFile;
    QPoint m_pressPos;
    bool m_bPressed = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4)
    {
        std::fprintf(stderr, "usage: e2e_dragsource FILE X Y\n");
        return 2;
    }
    CDragSourceWindow window(args.at(1));
    CReleaseStamp releaseStamp;
    if (!qEnvironmentVariableIsEmpty("CORVAN_LAUNCH_TRACE"))
        app.installNativeEventFilter(&releaseStamp);
    return CorvanTest::ShowAndRun(app, window, args.at(2).toInt(), args.at(3).toInt());
}

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
// The program stays up after the drag, because the drop target fetches the data from it after the
// release; the driver ends it.

#include "tests/e2e/E2eHelperWindow.h"

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextStream>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace
{

using CorvanTest::Report;

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
    return CorvanTest::ShowAndRun(app, window, args.at(2).toInt(), args.at(3).toInt());
}

// The smallest Qt drop target: proves that the suite's real drag reaches a Qt window under Xvfb,
// independently of the tool. It accepts any drag that carries URLs, prints "dropped URL" for the
// first one and quits.
//
// Usage: e2e_droptarget X Y    (prints "ready" once it can be dropped on)

#include "tests/e2e/E2eHelperWindow.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace
{

class CDropTargetWindow : public QWidget
{
public:
    CDropTargetWindow()
    {
        setWindowTitle(QStringLiteral("e2e drop target"));
        setFixedSize(200, 200);
        setAcceptDrops(true);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* pEvent) override
    {
        if (pEvent->mimeData()->hasUrls())
        {
            pEvent->acceptProposedAction();
        }
    }

    void dropEvent(QDropEvent* pEvent) override
    {
        pEvent->acceptProposedAction();
        std::printf("dropped %s\n",
                    pEvent->mimeData()->urls().value(0).toString(QUrl::FullyEncoded).toUtf8().constData());
        std::fflush(stdout);
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3)
    {
        std::fprintf(stderr, "usage: e2e_droptarget X Y\n");
        return 2;
    }
    CDropTargetWindow window;
    return CorvanTest::ShowAndRun(app, window, args.at(1).toInt(), args.at(2).toInt());
}

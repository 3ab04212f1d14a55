#include "mainwindow/CCorvanHTMLStarter.h"

namespace Corvan
{

void CCorvanHTMLStarter::LaunchLocalServer(QString strPath)
{
    Q_UNUSED(strPath);
}

} // namespace Corvan

#include "droparea/CCorvanHTMLStarterDropAreaWidget.h"

namespace Corvan
{

CCorvanHTMLStarterDropAreaWidget::CCorvanHTMLStarterDropAreaWidget(QWidget* parent) : QWidget(parent, Qt::WindowFlags())
{
}

CCorvanHTMLStarterDropAreaWidget::~CCorvanHTMLStarterDropAreaWidget() = default;

} // namespace Corvan

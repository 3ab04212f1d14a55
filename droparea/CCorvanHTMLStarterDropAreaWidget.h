#pragma once

#include <QWidget>

namespace Corvan
{

// The area inside the dashed frame that takes dropped files.
class CCorvanHTMLStarterDropAreaWidget : public QWidget
{
    Q_OBJECT

public:
    explicit CCorvanHTMLStarterDropAreaWidget(QWidget* parent = nullptr);
    ~CCorvanHTMLStarterDropAreaWidget() override;
};

} // namespace Corvan

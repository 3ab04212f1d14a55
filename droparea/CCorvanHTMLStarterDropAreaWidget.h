#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QDragEnterEvent;
class QDropEvent;

namespace Corvan
{

// The area inside the dashed frame that takes dropped files: the first dropped HTML file goes to the
// main window's launcher, any other file is refused with a message.
class CCorvanHTMLStarterDropAreaWidget : public QWidget
{
    Q_OBJECT

public:
    explicit CCorvanHTMLStarterDropAreaWidget(QWidget* parent = nullptr);
    ~CCorvanHTMLStarterDropAreaWidget() override;

    using LaunchHandler = std::function<void(const QString& strPath)>;
    // Lets tests receive accepted paths instead of the main window's launcher; empty restores it.
    static void SetLaunchHandler(LaunchHandler handler);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Builds the translucent panel with the centred prompt; does nothing once the panel exists.
    void CreatePanel();
    // True for a path whose complete suffix is exactly "html"; tells the user about any other file.
    bool IsSupportedFile(QString strPath);

    QWidget* m_pPanel;
};

} // namespace Corvan

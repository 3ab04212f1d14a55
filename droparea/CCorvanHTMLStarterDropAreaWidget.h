#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QDragEnterEvent;
class QDropEvent;

namespace Corvan
{

// The area inside the dashed frame that takes dropped files: the first dropped HTML file goes to the
// main window's launcher, any other file is refused with a message. A click, or Enter or Space while
// it has the keyboard focus, offers the same through a file dialog.
class CCorvanHTMLStarterDropAreaWidget : public QWidget
{
    Q_OBJECT

public:
    explicit CCorvanHTMLStarterDropAreaWidget(QWidget* parent = nullptr);
    ~CCorvanHTMLStarterDropAreaWidget() override;

    // Takes a local path as if its file had been dropped: the same check, the same refusal, the same
    // launch. An empty path (a web address has none) does nothing.
    void OpenFile(const QString& strPath);

    // The folder the file dialog starts in: that of the last file launched from here, at first the
    // user's home folder.
    QString StartFolder() const;

    using LaunchHandler = std::function<void(const QString& strPath)>;
    // Lets tests receive accepted paths instead of the main window's launcher; empty restores it.
    static void SetLaunchHandler(LaunchHandler handler);

    // Asks the user for a file, starting in the given folder; returns the chosen path or empty.
    using FileChooser = std::function<QString(QWidget* parent, const QString& strStartFolder)>;
    // Lets tests answer in place of the modal file dialog; empty restores the real dialog.
    static void SetFileChooser(FileChooser chooser);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Builds the translucent panel with the centred prompt; does nothing once the panel exists.
    void CreatePanel();
    // True for a path whose complete suffix is exactly "html"; tells the user about any other file.
    bool IsSupportedFile(QString strPath);
    // Shows the file dialog (one at a time) and opens what the user chose.
    void ChooseFile();
    // The focus line shows only after a move with the keyboard; a click, a drop or the file dialog
    // hides it again.
    void ShowFocusLine(bool bShow);

    QWidget* m_pPanel;
    QString m_strLastFolder;
    bool m_bPressed = false;
    bool m_bChoosing = false;
    bool m_bShowFocusLine = false;
};

} // namespace Corvan

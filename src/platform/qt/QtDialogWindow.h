// The window of one dialog: a fixed-size QDialog whose close requests and dialog keys become messages
// for the dialog instead of ending it.
#pragma once

#include <QDialog>
#include <functional>

class QWidget;

class CQtDialogWindow final : public QDialog {
public:
    struct Handlers {
        std::function<void()> onCloseRequest;  // close box, Alt+F4, the window manager's Close
        std::function<void()> onEscape;
        std::function<void()> onEnter;  // Enter with the focus off the push buttons
        std::function<void()> onHelp;   // F1
    };

    CQtDialogWindow(QWidget* pParent, Qt::WindowFlags flags, Handlers handlers);

    // The dialog has asked to end: the close that follows is its own and goes through.
    void AllowClose() { m_bClosing = true; }

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    Handlers m_handlers;
    bool m_bClosing = false;
};

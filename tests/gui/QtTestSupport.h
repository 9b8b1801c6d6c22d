// Helpers of the GUI tests: the one QApplication, a dialog that records what the host delivers, and
// running a dialog modally with a script that acts on its live widgets.
#pragma once

#include "platform/Dialog.h"
#include "platform/qt/QtDialogHost.h"
#include "platform/qt/QtHostFactory.h"

#include <QApplication>
#include <QString>
#include <QWidget>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The process's QApplication, created on first use on the calling (test main) thread.
QApplication& TestApp();

// Result a script run reports when the script left the dialog open.
constexpr int kLeftOpen = -99;

// Runs the dialog modally; once its window is up, runs the script on the user-interface thread, then
// (unless bEndAfterScript is false) ends the dialog with kLeftOpen if the script left it running.
int RunModalWithScript(CQtHostFactory& factory, CDialog& dialog, const std::function<void(CQtDialogHost&)>& script,
                       bool bEndAfterScript = true);

// Offers the active modal widget to the action from the event loop, again and again, until the action
// takes it (returns true). For boxes that the caller is about to open (exec blocks the caller).
void WhenModal(std::function<bool(QWidget* pModal)> action);

// A control of the window by its identifier, as the host names it.
template <class T>
T* FindControl(QWidget* pWindow, int nId)
{
    return pWindow->findChild<T*>(QString::number(nId));
}

// A dialog that records every message its table does not handle, with the thread it came on.
class CRecordingDialog : public CDialog {
public:
    explicit CRecordingDialog(const DialogTemplate& dialogTemplate) : CDialog(dialogTemplate) {}

    struct Received {
        Message msg;
        std::thread::id thread;
    };

    std::function<bool(const Message&)> onMessage;  // true: handled, no default handling
    bool bDefaultHandling = true;                   // Close, OK and Cancel end the dialog

    intptr_t DefWindowProc(const Message& msg) override;

    std::vector<Received> Messages() const;

private:
    mutable std::mutex m_mutex;
    std::vector<Received> m_received;
};

#include "gui/QtTestSupport.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

QApplication& TestApp()
{
    static int argc = 1;
    static char arg0[] = "quillon_gui_tests";
    static char* argv[] = {arg0, nullptr};
    static QApplication* pApp = new QApplication(argc, argv);
    return *pApp;
}

int RunModalWithScript(CQtHostFactory& factory, CDialog& dialog, const std::function<void(CQtDialogHost&)>& script,
                       bool bEndAfterScript)
{
    TestApp();
    QTimer::singleShot(0, [&factory, &dialog, &script, bEndAfterScript] {
        CQtDialogHost* pHost = factory.TopHost();
        if (pHost == nullptr || &pHost->Dialog() != &dialog) {
            ADD_FAILURE() << "the dialog is not the top dialog when its script starts";
            return;
        }
        script(*pHost);
        if (bEndAfterScript && factory.TopHost() == pHost && pHost->Window()->isVisible())
            pHost->EndDialog(kLeftOpen);
    });
    return factory.RunModal(dialog);
}

void WhenModal(std::function<bool(QWidget* pModal)> action)
{
    constexpr int kMaxPolls = 100000;
    auto pAction = std::make_shared<std::function<bool(QWidget*)>>(std::move(action));
    auto pPolls = std::make_shared<int>(0);
    auto pPoll = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> weakPoll = pPoll;
    *pPoll = [pAction, pPolls, weakPoll] {
        QWidget* pModal = QApplication::activeModalWidget();
        if (pModal != nullptr && (*pAction)(pModal))
            return;
        if (++*pPolls > kMaxPolls) {
            ADD_FAILURE() << "the expected modal box never came up";
            return;
        }
        auto pSelf = weakPoll.lock();
        QTimer::singleShot(0, [pSelf] { (*pSelf)(); });
    };
    QTimer::singleShot(0, [pPoll] { (*pPoll)(); });
}

intptr_t CRecordingDialog::DefWindowProc(const Message& msg)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.push_back({msg, std::this_thread::get_id()});
    }
    if (onMessage && onMessage(msg))
        return 0;
    return bDefaultHandling ? CDialog::DefWindowProc(msg) : 0;
}

std::vector<CRecordingDialog::Received> CRecordingDialog::Messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

// One dialog's window under the Qt host: the widgets built from its template, and the IDialogHost
// operations on them. Qt signals, close requests, dialog keys and timers become messages delivered to
// the dialog's message table on the user-interface thread.
#pragma once

#include "platform/DialogHost.h"
#include "platform/DialogTemplate.h"
#include "platform/qt/DialogUnits.h"

#include <QObject>
#include <QPointer>
#include <map>
#include <memory>
#include <type_traits>
#include <vector>

class CQtHostFactory;
class CQtDialogWindow;
class QAction;
class QButtonGroup;
class QComboBox;
class QMenuBar;
class QTimer;
class QWidget;
struct ControlTemplate;

class CQtDialogHost final : public IDialogHost {
public:
    // pOwner: the dialog that owns this one (null for a top-level window). On the user-interface thread.
    CQtDialogHost(CQtHostFactory& factory, CDialog& dialog, CQtDialogHost* pOwner);
    ~CQtDialogHost() override;
    CQtDialogHost(const CQtDialogHost&) = delete;
    CQtDialogHost& operator=(const CQtDialogHost&) = delete;

    // The whole modal life: attach, initialise, show centred, deliver messages until EndDialog, the
    // destroy message, detach. Returns the result given to EndDialog.
    int Run();

    // For tests and the owner: the window, a control by identifier (null if none), the menu bar.
    QWidget* Window() const;
    QWidget* Control(int nId) const;
    QAction* MenuAction(int nCommand) const;
    QMenuBar* MenuBar() const { return m_pMenuBar; }
    const DialogBaseUnits& BaseUnits() const { return m_units; }
    CDialog& Dialog() const { return m_dialog; }

    void SetDlgItemText(int nId, const QString& text) override;
    QString GetDlgItemText(int nId) override;
    void EnableDlgItem(int nId, bool bEnable) override;
    bool IsDlgItemEnabled(int nId) override;
    int GetCheck(int nId) override;
    void SetCheck(int nId, int nCheck) override;

    int ComboGetCount(int nId) override;
    int ComboAddString(int nId, const QString& text) override;
    int ComboInsertString(int nId, int nIndex, const QString& text) override;
    void ComboDeleteString(int nId, int nIndex) override;
    void ComboResetContent(int nId) override;
    void ComboSetItemData(int nId, int nIndex, void* pData) override;
    void* ComboGetItemData(int nId, int nIndex) override;
    QString ComboGetText(int nId, int nIndex) override;
    int ComboGetCurSel(int nId) override;
    void ComboSetCurSel(int nId, int nIndex) override;

    void EditAppendText(int nId, const QString& text) override;

    void ProgressSetRange(int nId, int nLower, int nUpper) override;
    void ProgressSetPos(int nId, int nPos) override;
    int ProgressGetPos(int nId) override;

    void EnableMenuItem(int nCommand, bool bEnable) override;
    bool IsMenuItemEnabled(int nCommand) override;

    uint32_t SetTimer(uint32_t nIdEvent, uint32_t nElapseMs) override;
    void KillTimer(uint32_t nIdEvent) override;

    void SetIcon(int nIconId, bool bBig) override;

    void MessageBox(const QString& text) override;
    bool GetOpenFileName(const FileDialogRequest& request, QString& path) override;
    bool GetSaveFileName(const FileDialogRequest& request, QString& path) override;
    int RunModalChild(CDialog& dialog) override;

    void EndDialog(int nResult) override;
    void PostMessage(const Message& msg) override;
    bool IsUiThread() override;

private:
    // Runs f on the user-interface thread: at once when called there, otherwise queued there while
    // this thread waits for its result.
    template <class F>
    std::invoke_result_t<F&> OnUiThread(F&& f);

    void Build();
    QWidget* CreateControl(const ControlTemplate& control, int nIndex);
    void BuildMenu();
    void LeaveMenuBar();
    void SetTabOrder();
    void PlaceWindow();
    void Deliver(const Message& msg);
    void DeliverCommand(int nId, int nCode);
    int DefaultCommandId() const;
    bool RunFileDialog(bool bSave, const FileDialogRequest& request, QString& path);

    template <class T>
    T* ControlAs(int nId) const;

    CQtHostFactory& m_factory;
    CDialog& m_dialog;
    CQtDialogHost* m_pOwner;
    QObject m_context;  // lives on the user-interface thread; target of hand-overs
    std::unique_ptr<CQtDialogWindow> m_pWindow;
    QWidget* m_pClient = nullptr;  // the client area: every control sits on it, placed absolutely
    QMenuBar* m_pMenuBar = nullptr;
    QPointer<QWidget> m_pFocusBeforeMenu;  // the control that had the keyboard when a menu opened
    DialogBaseUnits m_units;
    std::map<int, QWidget*> m_controls;     // by identifier
    std::vector<QWidget*> m_ordered;        // template order
    std::map<int, QAction*> m_menuActions;  // by command
    std::map<uint32_t, QTimer*> m_timers;
    std::vector<QButtonGroup*> m_radioGroups;
    int m_nProgrammatic = 0;  // >0 while the host itself changes a drop-down list
    bool m_bEnded = false;
    bool m_bDestroyed = false;
    int m_nResult = IDCANCEL;
};

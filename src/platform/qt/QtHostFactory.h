// The Qt Widgets host: runs the dialogs of the program as real windows.
#pragma once

#include "platform/DialogHost.h"

#include <QIcon>
#include <QString>
#include <functional>
#include <map>
#include <vector>

class CQtDialogHost;

// Answers a message box without showing it: called on the user-interface thread with the caption and
// the text. Meant for tests, which must not block on a modal box.
using MessageBoxObserver = std::function<void(const QString& caption, const QString& text)>;

class CQtHostFactory final : public IHostFactory {
public:
    // The application title is the caption of every message box. A QApplication must exist; the
    // thread that creates the factory is the user-interface thread.
    explicit CQtHostFactory(QString appTitle);
    ~CQtHostFactory() override;
    CQtHostFactory(const CQtHostFactory&) = delete;
    CQtHostFactory& operator=(const CQtHostFactory&) = delete;

    // Icons by resource id and resource name, as the templates and SetIcon refer to them.
    void RegisterIcon(int nId, const QString& name, const QIcon& icon);
    QIcon FindIcon(int nId) const;
    QIcon FindIcon(const QString& name) const;

    void SetMessageBoxObserver(MessageBoxObserver observer);
    const MessageBoxObserver& MessageBoxHook() const { return m_messageBoxObserver; }
    const QString& AppTitle() const { return m_strAppTitle; }

    // On the user-interface thread; a call from another thread is carried out there.
    int RunModal(CDialog& dialog) override;

    // The dialogs whose windows are up, outermost first (the running modal dialog is the last).
    const std::vector<CQtDialogHost*>& OpenHosts() const { return m_openHosts; }
    CQtDialogHost* TopHost() const { return m_openHosts.empty() ? nullptr : m_openHosts.back(); }

private:
    friend class CQtDialogHost;
    void HostOpened(CQtDialogHost* pHost);
    void HostClosed(CQtDialogHost* pHost);

    QString m_strAppTitle;
    std::map<int, QIcon> m_iconsById;
    std::map<QString, QIcon> m_iconsByName;
    MessageBoxObserver m_messageBoxObserver;
    std::vector<CQtDialogHost*> m_openHosts;
};

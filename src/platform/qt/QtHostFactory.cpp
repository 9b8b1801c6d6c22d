#include "platform/qt/QtHostFactory.h"

#include "platform/qt/QtDialogHost.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>

CQtHostFactory::CQtHostFactory(QString appTitle) : m_strAppTitle(std::move(appTitle)) {}

CQtHostFactory::~CQtHostFactory() = default;

void CQtHostFactory::RegisterIcon(int nId, const QString& name, const QIcon& icon)
{
    m_iconsById[nId] = icon;
    if (!name.isEmpty())
        m_iconsByName[name] = icon;
}

QIcon CQtHostFactory::FindIcon(int nId) const
{
    auto it = m_iconsById.find(nId);
    return it == m_iconsById.end() ? QIcon() : it->second;
}

QIcon CQtHostFactory::FindIcon(const QString& name) const
{
    auto it = m_iconsByName.find(name);
    return it == m_iconsByName.end() ? QIcon() : it->second;
}

void CQtHostFactory::SetMessageBoxObserver(MessageBoxObserver observer)
{
    m_messageBoxObserver = std::move(observer);
}

int CQtHostFactory::RunModal(CDialog& dialog)
{
    QCoreApplication* pApp = QCoreApplication::instance();
    if (pApp == nullptr)
        return -1;
    auto run = [this, &dialog] {
        CQtDialogHost host(*this, dialog, nullptr);
        return host.Run();
    };
    if (QThread::currentThread() == pApp->thread())
        return run();
    int nResult = -1;
    QMetaObject::invokeMethod(
        pApp, [&] { nResult = run(); }, Qt::BlockingQueuedConnection);
    return nResult;
}

void CQtHostFactory::HostOpened(CQtDialogHost* pHost)
{
    m_openHosts.push_back(pHost);
}

void CQtHostFactory::HostClosed(CQtDialogHost* pHost)
{
    m_openHosts.erase(std::remove(m_openHosts.begin(), m_openHosts.end(), pHost), m_openHosts.end());
}

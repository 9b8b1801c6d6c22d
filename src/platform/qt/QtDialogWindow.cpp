#include "platform/qt/QtDialogWindow.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

CQtDialogWindow::CQtDialogWindow(QWidget* pParent, Qt::WindowFlags flags, Handlers handlers)
    : QDialog(pParent, flags), m_handlers(std::move(handlers))
{}

void CQtDialogWindow::closeEvent(QCloseEvent* pEvent)
{
    if (m_bClosing) {
        pEvent->accept();
        return;
    }
    // The dialog decides; the window stays unless it ends itself.
    pEvent->ignore();
    if (m_handlers.onCloseRequest)
        m_handlers.onCloseRequest();
}

void CQtDialogWindow::keyPressEvent(QKeyEvent* pEvent)
{
    const bool bPlain = (pEvent->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    switch (pEvent->key()) {
    case Qt::Key_Escape:
        if (bPlain) {
            pEvent->accept();
            if (m_handlers.onEscape)
                m_handlers.onEscape();
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (bPlain) {
            pEvent->accept();
            auto* pButton = qobject_cast<QPushButton*>(focusWidget());
            if (pButton != nullptr && pButton->isEnabled() && pButton->isVisible())
                pButton->click();
            else if (m_handlers.onEnter)
                m_handlers.onEnter();
            return;
        }
        break;
    case Qt::Key_F1:
        if (bPlain) {
            pEvent->accept();
            if (m_handlers.onHelp)
                m_handlers.onHelp();
            return;
        }
        break;
    default:
        break;
    }
    // Neither QDialog's default button nor its reject(): those would end the window behind the
    // dialog's back.
    QWidget::keyPressEvent(pEvent);  // NOLINT(bugprone-parent-virtual-call)
}

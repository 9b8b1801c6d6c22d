#include "platform/qt/QtDialogHost.h"

#include "platform/Dialog.h"
#include "platform/DialogTemplate.h"
#include "platform/qt/FileFilter.h"
#include "platform/qt/QtDialogWindow.h"
#include "platform/qt/QtHostFactory.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kIconPixels = 32;  // an icon control shows the icon at its own size, not its rectangle's

QString FromUtf8(const char* psz)
{
    return psz == nullptr ? QString() : QString::fromUtf8(psz);
}

// Static text without mnemonic processing shows "&" as it stands; otherwise "&&" is one ampersand and
// a single "&" only marks the mnemonic, which a label without a buddy cannot use.
QString LabelText(const QString& text, bool bNoPrefix)
{
    if (bNoPrefix)
        return text;
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
                result += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        result += text[i];
    }
    return result;
}

// The multi-line edit keeps paragraphs; callers see lines ending in "\r\n" as they wrote them.
QString ToCrLf(const QString& text)
{
    QString result = text;
    result.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    result.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return result;
}

void UseWindowBackground(QWidget* pWidget)
{
    QPalette palette = pWidget->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    pWidget->setPalette(palette);
}

// A greyed check box still shows the state it holds (the Options dialog's stored match policy): its
// tick is drawn in a mid grey that reads on the box, instead of the faint greyed-text colour. Its label
// stays greyed.
void KeepTickLegibleWhenGreyed(QWidget* pWidget)
{
    QPalette palette = pWidget->palette();
    const QColor ink = palette.color(QPalette::Active, QPalette::Text);
    const QColor paper = palette.color(QPalette::Disabled, QPalette::Base);
    constexpr int kInkPercent = 65;
    auto mix = [](int nInk, int nPaper) { return (nInk * kInkPercent + nPaper * (100 - kInkPercent)) / 100; };
    palette.setColor(
        QPalette::Disabled, QPalette::Text,
        QColor(mix(ink.red(), paper.red()), mix(ink.green(), paper.green()), mix(ink.blue(), paper.blue())));
    pWidget->setPalette(palette);
}

// An identity field shows the end of a text too long for it (the part of an image path that names the
// file) and offers the whole text as tooltip; a text that fits shows as it is, without tooltip.
void ShowIdentityText(QLineEdit* pEdit, const QString& text)
{
    pEdit->setText(text);
    pEdit->setCursorPosition(static_cast<int>(text.size()));
    constexpr int kLineEditMargins = 2 * 2;  // QLineEdit's own margin on either side of the text
    const bool bFits = pEdit->fontMetrics().horizontalAdvance(text) + kLineEditMargins <= pEdit->contentsRect().width();
    pEdit->setToolTip(bFits ? QString() : text);
}

// A radio button of a template group. Qt takes the Tab stop from a group's other buttons whenever one of
// them gets the focus (only the arrow keys would reach them then); here every button keeps the Tab stop
// of its template.
class CGroupRadioButton final : public QRadioButton {
public:
    CGroupRadioButton(const QString& text, QWidget* pParent, bool bTabStop)
        : QRadioButton(text, pParent), m_bTabStop(bTabStop)
    {}

protected:
    void focusInEvent(QFocusEvent* pEvent) override
    {
        QRadioButton::focusInEvent(pEvent);
        if (QButtonGroup* pGroup = group()) {
            for (QAbstractButton* pButton : pGroup->buttons()) {
                if (auto* pRadio = dynamic_cast<CGroupRadioButton*>(pButton))
                    pRadio->setFocusPolicy(pRadio->m_bTabStop ? Qt::StrongFocus : Qt::ClickFocus);
            }
        }
    }

private:
    bool m_bTabStop;
};

}  // namespace

CQtDialogHost::CQtDialogHost(CQtHostFactory& factory, CDialog& dialog, CQtDialogHost* pOwner)
    : m_factory(factory), m_dialog(dialog), m_pOwner(pOwner)
{
    Build();
}

CQtDialogHost::~CQtDialogHost()
{
    m_bDestroyed = true;
    for (auto& [nId, pTimer] : m_timers)
        pTimer->stop();
    m_timers.clear();
    m_pWindow.reset();
}

template <class F>
std::invoke_result_t<F&> CQtDialogHost::OnUiThread(F&& f)
{
    using Result = std::invoke_result_t<F&>;
    if (IsUiThread())
        return f();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(
            &m_context, [&f] { f(); }, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            &m_context, [&f, &result] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

template <class T>
T* CQtDialogHost::ControlAs(int nId) const
{
    return qobject_cast<T*>(Control(nId));
}

QWidget* CQtDialogHost::Window() const
{
    return m_pWindow.get();
}

QWidget* CQtDialogHost::Control(int nId) const
{
    auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

QAction* CQtDialogHost::MenuAction(int nCommand) const
{
    auto it = m_menuActions.find(nCommand);
    return it == m_menuActions.end() ? nullptr : it->second;
}

// ---- building the window from the template ----

void CQtDialogHost::Build()
{
    const DialogTemplate& tpl = m_dialog.Template();

    Qt::WindowFlags flags = Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint;
    flags |= m_pOwner == nullptr ? Qt::Window : Qt::Dialog;
    if (tpl.nStyle & DS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (tpl.nStyle & DS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;

    CQtDialogWindow::Handlers handlers;
    handlers.onCloseRequest = [this] {
        Message msg;
        msg.kind = MessageKind::Close;
        Deliver(msg);
    };
    handlers.onEscape = [this] { DeliverCommand(IDCANCEL, BN_CLICKED); };
    handlers.onHelp = [this] { DeliverCommand(ID_HELP, BN_CLICKED); };
    handlers.onEnter = [this] {
        const int nDefId = DefaultCommandId();
        QWidget* pDefault = Control(nDefId);
        if (pDefault == nullptr || pDefault->isEnabled())
            DeliverCommand(nDefId, BN_CLICKED);
    };
    m_pWindow = std::make_unique<CQtDialogWindow>(m_pOwner != nullptr ? m_pOwner->Window() : nullptr, flags,
                                                  std::move(handlers));
    m_pWindow->setObjectName(QString::number(tpl.nId));
    m_pWindow->setWindowTitle(FromUtf8(tpl.pszCaption));
    m_pWindow->setModal(true);

    const QFont font = DialogFont(tpl);
    m_pWindow->setFont(font);
    m_units = BaseUnitsOf(font);

    auto* pLayout = new QVBoxLayout(m_pWindow.get());
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(0);
    pLayout->setSizeConstraint(QLayout::SetFixedSize);

    m_pClient = new QWidget(m_pWindow.get());
    m_pClient->setObjectName(QStringLiteral("client"));
    m_pClient->setFixedSize(DialogUnitsToPixelsX(m_units, tpl.cx), DialogUnitsToPixelsY(m_units, tpl.cy));
    pLayout->addWidget(m_pClient);

    QButtonGroup* pRadioGroup = nullptr;
    for (size_t i = 0; i < tpl.controls.size(); ++i) {
        const ControlTemplate& control = tpl.controls[i];
        if (control.nStyle & CS_GROUP)
            pRadioGroup = nullptr;
        QWidget* pWidget = CreateControl(control, static_cast<int>(i));
        m_ordered.push_back(pWidget);
        if (control.nId != -1 && m_controls.find(control.nId) == m_controls.end())
            m_controls[control.nId] = pWidget;
        if (auto* pRadio = qobject_cast<QRadioButton*>(pWidget)) {
            // Radio buttons exclude each other within their group only, not across the whole dialog.
            if (pRadioGroup == nullptr) {
                pRadioGroup = new QButtonGroup(m_pWindow.get());
                pRadioGroup->setExclusive(true);
                m_radioGroups.push_back(pRadioGroup);
            }
            pRadio->setAutoExclusive(false);
            pRadioGroup->addButton(pRadio);
        }
    }

    BuildMenu();
    if (m_pMenuBar != nullptr)
        pLayout->setMenuBar(m_pMenuBar);
    SetTabOrder();
}

QWidget* CQtDialogHost::CreateControl(const ControlTemplate& control, int nIndex)
{
    const QRect rect = DialogUnitsToPixels(m_units, control.x, control.y, control.cx, control.cy);
    const QString text = FromUtf8(control.pszText);
    const int nId = control.nId;
    QWidget* pWidget = nullptr;

    switch (control.kind) {
    case ControlKind::GroupBox: {
        // Only a frame with its title at the group's rectangle: the group's controls stay on the client
        // area, placed absolutely like every other control.
        auto* pBox = new QGroupBox(LabelText(text, control.nStyle & CS_NOPREFIX), m_pClient);
        pBox->setAttribute(Qt::WA_TransparentForMouseEvents);
        pWidget = pBox;
        break;
    }
    case ControlKind::Label: {
        auto* pLabel = new QLabel(LabelText(text, control.nStyle & CS_NOPREFIX), m_pClient);
        pLabel->setTextFormat(Qt::PlainText);
        pLabel->setAlignment(Qt::AlignTop | ((control.nStyle & CS_ALIGN_LEFT) ? Qt::AlignLeft : Qt::AlignRight));
        pWidget = pLabel;
        break;
    }
    case ControlKind::IdentityField: {
        auto* pEdit = new QLineEdit(text, m_pClient);
        pEdit->setReadOnly(true);
        pEdit->setFrame(false);
        pEdit->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        pEdit->setTextMargins(0, 0, 0, 0);
        UseWindowBackground(pEdit);
        pWidget = pEdit;
        break;
    }
    case ControlKind::DropDownList: {
        auto* pCombo = new QComboBox(m_pClient);
        pCombo->setEditable(false);
        pCombo->setInsertPolicy(QComboBox::NoInsert);
        pCombo->setFont(m_pWindow->font());
        // The template's height is the dropped list's; the closed box is as high as its font needs.
        const int nClosed = pCombo->sizeHint().height();
        const int nItem = qMax(1, QFontMetrics(pCombo->font()).height() + 2);
        pCombo->setMaxVisibleItems(qMax(1, (rect.height() - nClosed) / nItem));
        pCombo->setGeometry(rect.x(), rect.y(), rect.width(), nClosed);
        QObject::connect(pCombo, &QComboBox::currentIndexChanged, &m_context, [this, nId](int) {
            if (m_nProgrammatic == 0)
                DeliverCommand(nId, CBN_SELCHANGE);
        });
        pWidget = pCombo;
        break;
    }
    case ControlKind::RadioButton:
    case ControlKind::CheckBox: {
        QAbstractButton* pButton = nullptr;
        if (control.kind == ControlKind::RadioButton) {
            pButton = new CGroupRadioButton(text, m_pClient, control.nStyle & CS_TABSTOP);
        } else {
            pButton = new QCheckBox(text, m_pClient);
            KeepTickLegibleWhenGreyed(pButton);
        }
        QObject::connect(pButton, &QAbstractButton::clicked, &m_context,
                         [this, nId] { DeliverCommand(nId, BN_CLICKED); });
        pWidget = pButton;
        break;
    }
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* pButton = new QPushButton(text, m_pClient);
        pButton->setAutoDefault(false);
        pButton->setDefault(control.kind == ControlKind::DefPushButton);
        QObject::connect(pButton, &QAbstractButton::clicked, &m_context,
                         [this, nId] { DeliverCommand(nId, BN_CLICKED); });
        pWidget = pButton;
        break;
    }
    case ControlKind::MultiLineEdit: {
        auto* pEdit = new QPlainTextEdit(m_pClient);
        pEdit->setReadOnly(control.nStyle & CS_READONLY);
        pEdit->setUndoRedoEnabled(false);  // appends are not undoable, and a long trace keeps no history
        pEdit->setLineWrapMode((control.nStyle & CS_WRAP) ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
        pEdit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        pEdit->setHorizontalScrollBarPolicy((control.nStyle & CS_WRAP) ? Qt::ScrollBarAlwaysOff
                                                                       : Qt::ScrollBarAsNeeded);
        pEdit->setVerticalScrollBarPolicy((control.nStyle & CS_VSCROLL) ? Qt::ScrollBarAlwaysOn
                                                                        : Qt::ScrollBarAsNeeded);
        if (!(control.nStyle & CS_BORDER))
            pEdit->setFrameShape(QFrame::NoFrame);
        if (!text.isEmpty())
            pEdit->setPlainText(text);
        pWidget = pEdit;
        break;
    }
    case ControlKind::ProgressBar: {
        auto* pBar = new QProgressBar(m_pClient);
        pBar->setRange(0, 100);
        pBar->setValue(0);
        pBar->setTextVisible(false);
        pWidget = pBar;
        break;
    }
    case ControlKind::Icon: {
        auto* pLabel = new QLabel(m_pClient);
        bool bNumeric = false;
        const int nIconId = text.toInt(&bNumeric);
        const QIcon icon = bNumeric ? m_factory.FindIcon(nIconId) : m_factory.FindIcon(text);
        if (!icon.isNull())
            pLabel->setPixmap(icon.pixmap(kIconPixels, kIconPixels));
        pLabel->setGeometry(rect.x(), rect.y(), kIconPixels, kIconPixels);
        pWidget = pLabel;
        break;
    }
    }

    if (control.kind != ControlKind::DropDownList && control.kind != ControlKind::Icon)
        pWidget->setGeometry(rect);
    pWidget->setObjectName(nId != -1 ? QString::number(nId) : QStringLiteral("static%1").arg(nIndex));
    pWidget->setProperty("controlId", nId);
    pWidget->setEnabled(!(control.nStyle & CS_DISABLED));

    switch (control.kind) {
    case ControlKind::GroupBox:
    case ControlKind::Label:
    case ControlKind::ProgressBar:
    case ControlKind::Icon:
        pWidget->setFocusPolicy(Qt::NoFocus);
        break;
    default:
        pWidget->setFocusPolicy((control.nStyle & CS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
        break;
    }
    pWidget->show();
    return pWidget;
}

void CQtDialogHost::BuildMenu()
{
    const DialogTemplate& tpl = m_dialog.Template();
    if (tpl.menu.empty())
        return;
    m_pMenuBar = new QMenuBar(m_pWindow.get());
    m_pMenuBar->setNativeMenuBar(false);
    m_pMenuBar->setObjectName(QStringLiteral("menu%1").arg(tpl.nMenuId));
    for (const MenuTemplate& menuTemplate : tpl.menu) {
        QMenu* pMenu = m_pMenuBar->addMenu(FromUtf8(menuTemplate.pszTitle));
        QObject::connect(pMenu, &QMenu::aboutToShow, &m_context, [this] {
            QWidget* pFocus = QApplication::focusWidget();
            if (pFocus != nullptr && pFocus != m_pMenuBar)
                m_pFocusBeforeMenu = pFocus;
        });
        // Once the event that closed the menu is done with.
        QObject::connect(pMenu, &QMenu::aboutToHide, &m_context, [this] {
            QMetaObject::invokeMethod(
                &m_context, [this] { LeaveMenuBar(); }, Qt::QueuedConnection);
        });
        for (const MenuItemTemplate& item : menuTemplate.items) {
            if (item.pszText == nullptr) {
                pMenu->addSeparator();
                continue;
            }
            QAction* pAction = pMenu->addAction(FromUtf8(item.pszText));
            pAction->setObjectName(QString::number(item.nCommand));
            const int nCommand = item.nCommand;
            QObject::connect(pAction, &QAction::triggered, &m_context,
                             [this, nCommand] { DeliverCommand(nCommand, BN_CLICKED); });
            m_menuActions.emplace(item.nCommand, pAction);
        }
    }
}

// A menu closed with Escape leaves Qt's menu bar holding the keyboard, so that the next Escape would
// only release it. As in a native dialog, the keyboard goes back to the control that had it, and the
// next Escape is the dialog's.
void CQtDialogHost::LeaveMenuBar()
{
    if (m_pMenuBar == nullptr || m_pWindow->focusWidget() != m_pMenuBar || QApplication::activePopupWidget() != nullptr)
        return;
    if (m_pFocusBeforeMenu != nullptr && m_pFocusBeforeMenu->window() == m_pWindow.get())
        m_pFocusBeforeMenu->setFocus(Qt::OtherFocusReason);
    else
        m_pMenuBar->clearFocus();
}

void CQtDialogHost::SetTabOrder()
{
    QWidget* pPrevious = nullptr;
    for (QWidget* pWidget : m_ordered) {
        if (pWidget->focusPolicy() == Qt::NoFocus)
            continue;
        if (pPrevious != nullptr)
            QWidget::setTabOrder(pPrevious, pWidget);
        pPrevious = pWidget;
    }
}

// The main window centred on its screen, a child dialog over its owner.
void CQtDialogHost::PlaceWindow()
{
    m_pWindow->adjustSize();
    const QSize size = m_pWindow->size();
    QRect area;
    if (m_pOwner != nullptr && m_pOwner->Window() != nullptr) {
        area = m_pOwner->Window()->frameGeometry();
    } else {
        QScreen* pScreen = m_pWindow->screen() != nullptr ? m_pWindow->screen() : QGuiApplication::primaryScreen();
        if (pScreen != nullptr)
            area = pScreen->availableGeometry();
    }
    if (!area.isValid())
        return;
    QPoint topLeft = area.center() - QPoint(size.width() / 2, size.height() / 2);
    m_pWindow->move(topLeft);
}

// ---- the modal run ----

int CQtDialogHost::Run()
{
    m_factory.HostOpened(this);
    m_dialog.AttachHost(this);
    m_dialog.OnInitDialog();

    if (!m_bEnded) {
        PlaceWindow();
        m_pWindow->show();
        // Focus goes to the first control that takes it from the keyboard.
        for (QWidget* pWidget : m_ordered) {
            if ((pWidget->focusPolicy() & Qt::TabFocus) && pWidget->isEnabled()) {
                pWidget->setFocus(Qt::TabFocusReason);
                break;
            }
        }
        if (!m_bEnded)
            m_pWindow->exec();
    }

    for (auto& [nId, pTimer] : m_timers)
        pTimer->stop();
    Message destroy;
    destroy.kind = MessageKind::Destroy;
    Deliver(destroy);
    m_bDestroyed = true;
    m_pWindow->hide();
    m_dialog.AttachHost(nullptr);
    m_factory.HostClosed(this);
    return m_nResult;
}

void CQtDialogHost::EndDialog(int nResult)
{
    OnUiThread([this, nResult] {
        m_nResult = nResult;
        if (m_bEnded)
            return;
        m_bEnded = true;
        m_pWindow->AllowClose();
        if (m_pWindow->isVisible())
            m_pWindow->done(nResult);
    });
}

void CQtDialogHost::Deliver(const Message& msg)
{
    if (m_bDestroyed)
        return;
    m_dialog.OnWndMsg(msg);
}

void CQtDialogHost::DeliverCommand(int nId, int nCode)
{
    Message msg;
    msg.kind = MessageKind::Command;
    msg.nId = nId;
    msg.nCode = nCode;
    Deliver(msg);
}

int CQtDialogHost::DefaultCommandId() const
{
    for (const ControlTemplate& control : m_dialog.Template().controls) {
        if (control.kind == ControlKind::DefPushButton && control.nId != -1)
            return control.nId;
    }
    return IDOK;
}

void CQtDialogHost::PostMessage(const Message& msg)
{
    // Never waits, from whichever thread; dropped when the window is gone before it is delivered.
    QMetaObject::invokeMethod(
        &m_context, [this, msg] { Deliver(msg); }, Qt::QueuedConnection);
}

bool CQtDialogHost::IsUiThread()
{
    return QThread::currentThread() == m_context.thread();
}

// ---- controls ----

void CQtDialogHost::SetDlgItemText(int nId, const QString& text)
{
    OnUiThread([&] {
        QWidget* pWidget = Control(nId);
        if (auto* pLine = qobject_cast<QLineEdit*>(pWidget)) {
            ShowIdentityText(pLine, text);
        } else if (auto* pPlain = qobject_cast<QPlainTextEdit*>(pWidget)) {
            pPlain->setPlainText(text);
        } else if (auto* pButton = qobject_cast<QAbstractButton*>(pWidget)) {
            pButton->setText(text);
        } else if (auto* pBox = qobject_cast<QGroupBox*>(pWidget)) {
            pBox->setTitle(text);
        } else if (auto* pLabel = qobject_cast<QLabel*>(pWidget)) {
            pLabel->setText(text);
        } else if (auto* pCombo = qobject_cast<QComboBox*>(pWidget)) {
            // A selection-only list shows the entry with that text, if any.
            ++m_nProgrammatic;
            const int nIndex = pCombo->findText(text, Qt::MatchExactly);
            if (nIndex >= 0)
                pCombo->setCurrentIndex(nIndex);
            --m_nProgrammatic;
        }
    });
}

QString CQtDialogHost::GetDlgItemText(int nId)
{
    return OnUiThread([&]() -> QString {
        QWidget* pWidget = Control(nId);
        if (auto* pLine = qobject_cast<QLineEdit*>(pWidget))
            return pLine->text();
        if (auto* pPlain = qobject_cast<QPlainTextEdit*>(pWidget))
            return ToCrLf(pPlain->toPlainText());
        if (auto* pButton = qobject_cast<QAbstractButton*>(pWidget))
            return pButton->text();
        if (auto* pBox = qobject_cast<QGroupBox*>(pWidget))
            return pBox->title();
        if (auto* pLabel = qobject_cast<QLabel*>(pWidget))
            return pLabel->text();
        if (auto* pCombo = qobject_cast<QComboBox*>(pWidget))
            return pCombo->currentIndex() >= 0 ? pCombo->currentText() : QString();
        return QString();
    });
}

void CQtDialogHost::EnableDlgItem(int nId, bool bEnable)
{
    OnUiThread([&] {
        if (QWidget* pWidget = Control(nId))
            pWidget->setEnabled(bEnable);
    });
}

bool CQtDialogHost::IsDlgItemEnabled(int nId)
{
    return OnUiThread([&] {
        QWidget* pWidget = Control(nId);
        return pWidget != nullptr && pWidget->isEnabled();
    });
}

int CQtDialogHost::GetCheck(int nId)
{
    return OnUiThread([&] {
        auto* pButton = ControlAs<QAbstractButton>(nId);
        return pButton != nullptr && pButton->isCheckable() && pButton->isChecked() ? 1 : 0;
    });
}

void CQtDialogHost::SetCheck(int nId, int nCheck)
{
    OnUiThread([&] {
        auto* pButton = ControlAs<QAbstractButton>(nId);
        if (pButton == nullptr || !pButton->isCheckable())
            return;
        const bool bCheck = nCheck != 0;
        // Setting a radio button's state by hand leaves the others alone, as the original control does;
        // an exclusive group would refuse to clear its checked button and would clear the others.
        QButtonGroup* pGroup = pButton->group();
        if (pGroup != nullptr)
            pGroup->setExclusive(false);
        pButton->setChecked(bCheck);
        if (pGroup != nullptr)
            pGroup->setExclusive(true);
    });
}

// ---- drop-down list ----

int CQtDialogHost::ComboGetCount(int nId)
{
    return OnUiThread([&] {
        auto* pCombo = ControlAs<QComboBox>(nId);
        return pCombo != nullptr ? pCombo->count() : 0;
    });
}

int CQtDialogHost::ComboAddString(int nId, const QString& text)
{
    return ComboInsertString(nId, -1, text);
}

int CQtDialogHost::ComboInsertString(int nId, int nIndex, const QString& text)
{
    return OnUiThread([&] {
        auto* pCombo = ControlAs<QComboBox>(nId);
        if (pCombo == nullptr || nIndex < -1 || nIndex > pCombo->count())
            return -1;
        const int nPosition = nIndex == -1 ? pCombo->count() : nIndex;
        ++m_nProgrammatic;
        const bool bWasEmpty = pCombo->currentIndex() < 0;
        pCombo->insertItem(nPosition, text);
        // A new entry is not selected by being added.
        if (bWasEmpty)
            pCombo->setCurrentIndex(-1);
        --m_nProgrammatic;
        return nPosition;
    });
}

void CQtDialogHost::ComboDeleteString(int nId, int nIndex)
{
    OnUiThread([&] {
        auto* pCombo = ControlAs<QComboBox>(nId);
        if (pCombo == nullptr || nIndex < 0 || nIndex >= pCombo->count())
            return;
        ++m_nProgrammatic;
        const bool bWasSelected = pCombo->currentIndex() == nIndex;
        pCombo->removeItem(nIndex);
        // Deleting the selected entry leaves no selection rather than selecting a neighbour.
        if (bWasSelected)
            pCombo->setCurrentIndex(-1);
        --m_nProgrammatic;
    });
}

void CQtDialogHost::ComboResetContent(int nId)
{
    OnUiThread([&] {
        if (auto* pCombo = ControlAs<QComboBox>(nId)) {
            ++m_nProgrammatic;
            pCombo->clear();
            --m_nProgrammatic;
        }
    });
}

void CQtDialogHost::ComboSetItemData(int nId, int nIndex, void* pData)
{
    OnUiThread([&] {
        auto* pCombo = ControlAs<QComboBox>(nId);
        if (pCombo != nullptr && nIndex >= 0 && nIndex < pCombo->count())
            pCombo->setItemData(nIndex, QVariant::fromValue(reinterpret_cast<quintptr>(pData)), Qt::UserRole);
    });
}

void* CQtDialogHost::ComboGetItemData(int nId, int nIndex)
{
    return OnUiThread([&]() -> void* {
        auto* pCombo = ControlAs<QComboBox>(nId);
        if (pCombo == nullptr || nIndex < 0 || nIndex >= pCombo->count())
            return nullptr;
        return reinterpret_cast<void*>(pCombo->itemData(nIndex, Qt::UserRole).value<quintptr>());
    });
}

QString CQtDialogHost::ComboGetText(int nId, int nIndex)
{
    return OnUiThread([&] {
        auto* pCombo = ControlAs<QComboBox>(nId);
        if (pCombo == nullptr || nIndex < 0 || nIndex >= pCombo->count())
            return QString();
        return pCombo->itemText(nIndex);
    });
}

int CQtDialogHost::ComboGetCurSel(int nId)
{
    return OnUiThread([&] {
        auto* pCombo = ControlAs<QComboBox>(nId);
        return pCombo != nullptr ? pCombo->currentIndex() : -1;
    });
}

void CQtDialogHost::ComboSetCurSel(int nId, int nIndex)
{
    OnUiThread([&] {
        auto* pCombo = ControlAs<QComboBox>(nId);
        if (pCombo == nullptr)
            return;
        ++m_nProgrammatic;
        pCombo->setCurrentIndex(nIndex >= 0 && nIndex < pCombo->count() ? nIndex : -1);
        --m_nProgrammatic;
    });
}

// ---- multi-line edit ----

void CQtDialogHost::EditAppendText(int nId, const QString& text)
{
    OnUiThread([&] {
        auto* pEdit = ControlAs<QPlainTextEdit>(nId);
        if (pEdit == nullptr)
            return;
        // Whatever the operator clicked or selected, the text goes at the very end.
        QTextCursor cursor = pEdit->textCursor();
        cursor.movePosition(QTextCursor::End);
        pEdit->setTextCursor(cursor);
        pEdit->ensureCursorVisible();
        cursor.insertText(text);
        pEdit->setTextCursor(cursor);
        pEdit->ensureCursorVisible();
        QScrollBar* pScroll = pEdit->verticalScrollBar();
        pScroll->setValue(pScroll->maximum());
    });
}

// ---- progress bar ----

void CQtDialogHost::ProgressSetRange(int nId, int nLower, int nUpper)
{
    OnUiThread([&] {
        if (auto* pBar = ControlAs<QProgressBar>(nId))
            pBar->setRange(nLower, nUpper);
    });
}

void CQtDialogHost::ProgressSetPos(int nId, int nPos)
{
    OnUiThread([&] {
        if (auto* pBar = ControlAs<QProgressBar>(nId))
            pBar->setValue(qBound(pBar->minimum(), nPos, pBar->maximum()));
    });
}

int CQtDialogHost::ProgressGetPos(int nId)
{
    return OnUiThread([&] {
        auto* pBar = ControlAs<QProgressBar>(nId);
        return pBar != nullptr ? pBar->value() : 0;
    });
}

// ---- menu ----

void CQtDialogHost::EnableMenuItem(int nCommand, bool bEnable)
{
    OnUiThread([&] {
        if (QAction* pAction = MenuAction(nCommand))
            pAction->setEnabled(bEnable);
    });
}

bool CQtDialogHost::IsMenuItemEnabled(int nCommand)
{
    return OnUiThread([&] {
        QAction* pAction = MenuAction(nCommand);
        return pAction != nullptr && pAction->isEnabled();
    });
}

// ---- timers ----

uint32_t CQtDialogHost::SetTimer(uint32_t nIdEvent, uint32_t nElapseMs)
{
    return OnUiThread([&]() -> uint32_t {
        if (m_bDestroyed || nIdEvent == 0)
            return 0;
        QTimer*& pTimer = m_timers[nIdEvent];
        if (pTimer == nullptr) {
            pTimer = new QTimer(&m_context);
            QObject::connect(pTimer, &QTimer::timeout, &m_context, [this, nIdEvent] {
                Message msg;
                msg.kind = MessageKind::Timer;
                msg.nId = static_cast<int>(nIdEvent);
                Deliver(msg);
            });
        }
        // Setting an existing timer again restarts it with the new period.
        pTimer->start(static_cast<int>(qMin<uint32_t>(nElapseMs, INT32_MAX)));
        return nIdEvent;
    });
}

void CQtDialogHost::KillTimer(uint32_t nIdEvent)
{
    OnUiThread([&] {
        auto it = m_timers.find(nIdEvent);
        if (it != m_timers.end())
            it->second->stop();
    });
}

// ---- icon ----

void CQtDialogHost::SetIcon(int nIconId, bool bBig)
{
    OnUiThread([&] {
        const QIcon icon = m_factory.FindIcon(nIconId);
        // Qt keeps one icon in all its sizes for both uses.
        if (!icon.isNull())
            m_pWindow->setWindowIcon(icon);
    });
}

// ---- modal pieces ----

void CQtDialogHost::MessageBox(const QString& text)
{
    OnUiThread([&] {
        const QString caption = m_factory.AppTitle();
        if (m_factory.MessageBoxHook()) {
            m_factory.MessageBoxHook()(caption, text);
            return;
        }
        QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, m_pWindow.get());
        box.setTextFormat(Qt::PlainText);
        box.setWindowModality(Qt::WindowModal);
        box.exec();
    });
}

bool CQtDialogHost::GetOpenFileName(const FileDialogRequest& request, QString& path)
{
    return OnUiThread([&] { return RunFileDialog(false, request, path); });
}

bool CQtDialogHost::GetSaveFileName(const FileDialogRequest& request, QString& path)
{
    return OnUiThread([&] { return RunFileDialog(true, request, path); });
}

bool CQtDialogHost::RunFileDialog(bool bSave, const FileDialogRequest& request, QString& path)
{
    // Qt's own dialog everywhere: the same behaviour (default extension, overwrite question) on every
    // desktop, and the same widgets under test.
    QFileDialog dialog(m_pWindow.get());
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setAcceptMode(bSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(bSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(QtNameFilters(request.strFilter));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !(bSave && request.bOverwritePrompt));
    QString ext = request.strDefaultExt;
    while (ext.startsWith(QLatin1Char('.')))
        ext.remove(0, 1);
    if (!ext.isEmpty())
        dialog.setDefaultSuffix(ext);
    if (!path.isEmpty())
        dialog.selectFile(path);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty())
        return false;
    path = bSave ? WithDefaultExtension(files.first(), ext) : files.first();
    return true;
}

int CQtDialogHost::RunModalChild(CDialog& dialog)
{
    return OnUiThread([&] {
        CQtDialogHost child(m_factory, dialog, this);
        return child.Run();
    });
}

// Dialogs as data: the template format that the hosts instantiate, like a resource script.
#pragma once

#include <cstdint>
#include <vector>

enum class ControlKind {
    GroupBox,
    Label,          // static text
    IdentityField,  // read-only edit box without border, scrolls horizontally, no tab stop
    DropDownList,   // combo box, selection only
    RadioButton,    // automatic radio button
    CheckBox,       // automatic check box
    PushButton,
    DefPushButton,
    MultiLineEdit,
    ProgressBar,
    Icon,
};

// Style bits of a control.
enum ControlStyle : uint32_t {
    CS_NONE = 0,
    CS_DISABLED = 1u << 0,  // created disabled
    CS_TABSTOP = 1u << 1,
    CS_GROUP = 1u << 2,       // starts a group
    CS_ALIGN_LEFT = 1u << 3,  // labels are right-aligned unless this is set
    CS_READONLY = 1u << 4,
    CS_BORDER = 1u << 5,
    CS_VSCROLL = 1u << 6,
    CS_AUTOVSCROLL = 1u << 7,
    CS_WRAP = 1u << 8,      // multi-line edit: lines wrap, no horizontal scroll bar
    CS_NOPREFIX = 1u << 9,  // no mnemonic processing
};

// Style bits of a dialog.
enum DialogStyle : uint32_t {
    DS_NONE = 0,
    DS_MINIMIZEBOX = 1u << 0,
    DS_SYSMENU = 1u << 1,
    DS_CENTER = 1u << 2,
    DS_APPWINDOW = 1u << 3,  // own taskbar button
};

struct ControlTemplate {
    int nId;  // -1: no identifier
    ControlKind kind;
    const char* pszText;  // UTF-8; for Icon the resource name
    int x, y, cx, cy;     // dialog units
    uint32_t nStyle;
};

struct MenuItemTemplate {
    const char* pszText;  // null for a separator
    int nCommand;         // 0 for a separator
};

struct MenuTemplate {
    const char* pszTitle;
    std::vector<MenuItemTemplate> items;
};

struct DialogTemplate {
    int nId;
    const char* pszCaption;
    int cx, cy;  // dialog units
    const char* pszFont;
    int nFontPoints;
    uint32_t nStyle;
    int nMenuId;                            // 0: no menu
    std::vector<ControlTemplate> controls;  // template order = tab order
    std::vector<MenuTemplate> menu;
};

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int ID_HELP = 57670;  // the Help command, which both hosts send for F1

#include "app/Resources.h"

#include "app/Resource.h"

const char kQuillonCaption[] = "ZEL USB Firmware Upgrade - V2.1.0.1";
const char kAboutVersionLine[] = "Quillon Version 2.1.0.1";
const char kAboutSecondLine[] = "Copyright (C) ZEL";

namespace {

constexpr int NOID = -1;
constexpr uint32_t kIdentityStyle = CS_READONLY;
constexpr uint32_t kTraceStyle = CS_READONLY | CS_BORDER | CS_VSCROLL | CS_AUTOVSCROLL | CS_WRAP;

}  // namespace

const DialogTemplate& QuillonDialogTemplate()
{
    static const DialogTemplate tpl{
        IDD_QUILLON_DIALOG,
        kQuillonCaption,
        347,
        292,
        "MS Sans Serif",
        8,
        DS_MINIMIZEBOX | DS_SYSMENU | DS_CENTER | DS_APPWINDOW,
        IDR_MAINFRAME_MENU,
        {
            {NOID, ControlKind::GroupBox, "USB devices", 6, 7, 162, 130, CS_NONE},
            {IDC_DEVICE_COMBO, ControlKind::DropDownList, "", 12, 23, 151, 48, CS_VSCROLL | CS_TABSTOP},
            {NOID, ControlKind::Label, "Vendor ID:", 22, 47, 41, 10, CS_NONE},
            {IDC_DEV_VID, ControlKind::IdentityField, "", 67, 47, 94, 12, kIdentityStyle},
            {NOID, ControlKind::Label, "Product ID:", 16, 65, 47, 11, CS_NONE},
            {IDC_DEV_PID, ControlKind::IdentityField, "", 67, 65, 94, 12, kIdentityStyle},
            {NOID, ControlKind::Label, "Version:", 25, 83, 38, 11, CS_NONE},
            {IDC_DEV_VERSION, ControlKind::IdentityField, "", 67, 83, 94, 12, kIdentityStyle},
            {NOID, ControlKind::Label, "Subversion:", 16, 101, 47, 11, CS_NONE},
            {IDC_DEV_SUBVERSION, ControlKind::IdentityField, "", 67, 101, 94, 12, kIdentityStyle},
            {NOID, ControlKind::Label, "Chipset:", 18, 119, 44, 11, CS_NONE},
            {IDC_DEV_CHIPSET, ControlKind::IdentityField, "", 67, 119, 94, 12, kIdentityStyle},
            {NOID, ControlKind::GroupBox, "Firmware Image", 6, 142, 162, 124, CS_NONE},
            {NOID, ControlKind::Label, "DFU File:", 9, 159, 51, 10, CS_NONE},
            {IDC_IMG_FILE, ControlKind::IdentityField, "", 67, 159, 94, 12, kIdentityStyle},
            {NOID, ControlKind::Label, "Vendor ID:", 20, 177, 41, 10, CS_NONE},
            {IDC_IMG_VID, ControlKind::IdentityField, "", 67, 177, 94, 12, kIdentityStyle},
            {NOID, ControlKind::Label, "Product ID:", 14, 195, 47, 11, CS_NONE},
            {IDC_IMG_PID, ControlKind::IdentityField, "", 67, 195, 94, 12, kIdentityStyle},
            {NOID, ControlKind::Label, "Version:", 23, 213, 38, 11, CS_NONE},
            {IDC_IMG_VERSION, ControlKind::IdentityField, "", 67, 213, 94, 12, kIdentityStyle},
            {NOID, ControlKind::Label, "Subversion:", 14, 231, 47, 11, CS_NONE},
            {IDC_IMG_SUBVERSION, ControlKind::IdentityField, "", 67, 231, 94, 12, kIdentityStyle},
            {NOID, ControlKind::Label, "Chipset:", 14, 249, 47, 11, CS_NONE},
            {IDC_IMG_CHIPSET, ControlKind::IdentityField, "", 67, 249, 94, 12, kIdentityStyle},
            {NOID, ControlKind::GroupBox, "DFU Reprograming", 178, 7, 162, 71, CS_NONE},
            {IDC_DOWNLOAD, ControlKind::RadioButton, "Download Firmware", 187, 24, 86, 10, CS_GROUP | CS_TABSTOP},
            {IDC_UPDATE_ALL, ControlKind::CheckBox, "Update All", 199, 42, 56, 10, CS_TABSTOP},
            {IDC_UPLOAD, ControlKind::RadioButton, "Upload Firmware", 187, 60, 76, 10, CS_TABSTOP},
            {IDC_START, ControlKind::PushButton, "Start", 278, 22, 55, 15, CS_TABSTOP},
            {NOID, ControlKind::Label, "Trace", 177, 83, 39, 10, CS_ALIGN_LEFT | CS_GROUP},
            {IDC_CLEAR_TRACE, ControlKind::PushButton, "Clear Trace", 278, 79, 55, 15, CS_TABSTOP},
            {IDC_TRACE, ControlKind::MultiLineEdit, "", 177, 97, 162, 169, kTraceStyle},
            {IDC_PROGRESS, ControlKind::ProgressBar, "", 6, 271, 334, 12, CS_BORDER},
        },
        {
            {"&File", {{"&Open Image", ID_FILE_OPEN_IMAGE}, {nullptr, 0}, {"&Exit", ID_APP_EXIT}}},
            {"&Config", {{"&Options", ID_CONFIG_OPTIONS}}},
            {"&Help", {{"&About", ID_HELP_ABOUT}}},
        },
    };
    return tpl;
}

const DialogTemplate& OptionsDialogTemplate()
{
    static const DialogTemplate tpl{
        IDD_OPTIONS,
        "Options",
        128,
        146,
        "MS Shell Dlg",
        8,
        DS_SYSMENU | DS_CENTER,
        0,
        {
            {IDOK, ControlKind::DefPushButton, "OK", 7, 121, 50, 14, CS_TABSTOP},
            {IDCANCEL, ControlKind::PushButton, "Cancel", 61, 121, 50, 14, CS_TABSTOP},
            {NOID, ControlKind::GroupBox, "Download Match Options", 7, 15, 102, 85, CS_NONE},
            {IDC_MATCH_VID, ControlKind::CheckBox, "Vendor ID", 15, 27, 48, 10, CS_DISABLED | CS_TABSTOP},
            {IDC_MATCH_PID, ControlKind::CheckBox, "Product ID", 15, 41, 50, 10, CS_DISABLED | CS_TABSTOP},
            {IDC_MATCH_CHIPSET, ControlKind::CheckBox, "Chipset Type", 15, 83, 58, 10, CS_DISABLED | CS_TABSTOP},
            {IDC_MATCH_VERSION, ControlKind::CheckBox, "Version", 15, 55, 39, 10, CS_DISABLED | CS_TABSTOP},
            {IDC_MATCH_SUBVERSION, ControlKind::CheckBox, "Subversion", 15, 69, 51, 10, CS_DISABLED | CS_TABSTOP},
            {IDC_AUTO_VERIFY, ControlKind::CheckBox, "Automatically verify", 15, 106, 79, 10, CS_TABSTOP},
        },
        {},
    };
    return tpl;
}

const DialogTemplate& AboutDialogTemplate()
{
    static const DialogTemplate tpl{
        IDD_ABOUTBOX,
        "About Quillon",
        235,
        55,
        "MS Shell Dlg",
        8,
        DS_SYSMENU | DS_CENTER,
        0,
        {
            {NOID, ControlKind::Icon, "IDR_MAINFRAME", 11, 17, 20, 20, CS_NONE},
            {NOID, ControlKind::Label, kAboutVersionLine, 40, 10, 119, 8, CS_ALIGN_LEFT | CS_NOPREFIX},
            {NOID, ControlKind::Label, kAboutSecondLine, 40, 25, 119, 8, CS_ALIGN_LEFT},
            {IDOK, ControlKind::DefPushButton, "OK", 178, 7, 50, 16, CS_GROUP | CS_TABSTOP},
        },
        {},
    };
    return tpl;
}

const DialogTemplate* FindDialogTemplate(int nId)
{
    switch (nId) {
    case IDD_QUILLON_DIALOG:
        return &QuillonDialogTemplate();
    case IDD_OPTIONS:
        return &OptionsDialogTemplate();
    case IDD_ABOUTBOX:
        return &AboutDialogTemplate();
    default:
        return nullptr;
    }
}

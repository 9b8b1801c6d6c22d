// The program's dialog templates and menu, as a resource script would hold them.
#pragma once

#include "platform/DialogTemplate.h"

const DialogTemplate& QuillonDialogTemplate();  // IDD_QUILLON_DIALOG, with the menu IDR_MAINFRAME
const DialogTemplate& OptionsDialogTemplate();  // IDD_OPTIONS
const DialogTemplate& AboutDialogTemplate();    // IDD_ABOUTBOX
// Null for an unknown template id.
const DialogTemplate* FindDialogTemplate(int nId);

// Caption of the main window and the version line of the About box.
extern const char kQuillonCaption[];
extern const char kAboutVersionLine[];
extern const char kAboutSecondLine[];

// The trace box and the activity indicator.
#pragma once

#include <QString>

class CQuillonDlg;

// Inserts the text at the very end of the trace and scrolls it into view; from either thread.
void AppendTrace(CQuillonDlg* pDlg, const QString& text);
// Starts the progress timer from 0, and stops it for good (the bar back at 0).
void StartProgressIndicator(CQuillonDlg* pDlg);
void StopProgressIndicator(CQuillonDlg* pDlg);

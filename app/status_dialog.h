#pragma once

#include <windows.h>

// The status dialog's procedure: publishes the dialog in g_hStatusDlg and
// ends the dialog on IDCANCEL (Esc, Alt+F4, Close and the close box).
INT_PTR CALLBACK StatusDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

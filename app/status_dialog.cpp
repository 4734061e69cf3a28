#include "app/status_dialog.h"

#include "measure/poll_thread.h"

INT_PTR CALLBACK StatusDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        // From here on the measurement thread writes its reports to this
        // dialog. The handle is never cleared: a write that comes after the
        // dialog is gone fails without effect.
        g_hStatusDlg = dialog;
        return TRUE;  // let the platform set the default focus

    case WM_COMMAND:
        // Enter arrives as IDOK and is ignored: only IDCANCEL closes.
        if (LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, 0);
        return FALSE;
    }
    return FALSE;
}

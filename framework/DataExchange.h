// Dialog data exchange: moving values between a dialog's members and its controls.
#pragma once

#include "framework/String.h"
#include "framework/Wnd.h"

class CDataExchange
{
  public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

    // The control `id` of the dialog; remembered as the one a following validation refers to.
    HWND PrepareCtrl(int id);
    // Refuses the last prepared control's value: focus goes to it and UpdateData returns FALSE.
    [[noreturn]] void Fail();

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    HWND m_lastControl = nullptr;
};

// The radio group that starts at `firstId` (a WS_GROUP control) and runs to the next WS_GROUP
// control; `value` is the index of the checked button, -1 when none is checked.
void DDX_Radio(CDataExchange* dx, int firstId, int& value);
void DDX_Text(CDataExchange* dx, int id, CString& value);
// On load limits the preceding text control to `maxChars`; on save refuses a longer text.
void DDV_MaxChars(CDataExchange* dx, const CString& value, int maxChars);
// Attaches `control` to the dialog's control `id` (once).
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

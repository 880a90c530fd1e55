#include "framework/DataExchange.h"

#include "framework/Exceptions.h"

#include <string>

HWND CDataExchange::PrepareCtrl(int id)
{
    m_lastControl = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
    return m_lastControl;
}

void CDataExchange::Fail()
{
    if (m_bSaveAndValidate && m_lastControl)
    {
        ::SetFocus(m_lastControl);
        ::SendMessageW(m_lastControl, EM_SETSEL, 0, -1);
    }
    AfxThrowUserException();
}

void DDX_Radio(CDataExchange* dx, int firstId, int& value)
{
    HWND button = dx->PrepareCtrl(firstId);
    if (dx->m_bSaveAndValidate)
        value = -1;
    int index = 0;
    while (button)
    {
        if (::SendMessageW(button, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON)
        {
            if (!dx->m_bSaveAndValidate)
                ::SendMessageW(button, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
            else if (::SendMessageW(button, BM_GETCHECK, 0, 0) != BST_UNCHECKED)
                value = index;
            ++index;
        }
        button = ::GetWindow(button, GW_HWNDNEXT);
        if (button && (::GetWindowLongW(button, GWL_STYLE) & WS_GROUP))
            break;
    }
}

void DDX_Text(CDataExchange* dx, int id, CString& value)
{
    HWND control = dx->PrepareCtrl(id);
    if (!control)
        return;
    if (!dx->m_bSaveAndValidate)
    {
        ::SetWindowTextA(control, value);
        return;
    }
    const int length = ::GetWindowTextLengthA(control);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int copied = ::GetWindowTextA(control, text.data(), length + 1);
    value = CString(text.data(), copied);
}

void DDV_MaxChars(CDataExchange* dx, const CString& value, int maxChars)
{
    if (dx->m_bSaveAndValidate)
    {
        if (value.GetLength() > maxChars)
            dx->Fail();
    }
    else if (dx->m_lastControl)
    {
        ::SendMessageW(dx->m_lastControl, EM_LIMITTEXT, static_cast<WPARAM>(maxChars), 0);
    }
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control)
{
    HWND window = dx->PrepareCtrl(id);
    if (!control.m_hWnd)
        control.Attach(window);
}

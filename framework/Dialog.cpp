#include "framework/Dialog.h"

#include "framework/Exceptions.h"

const MessageMapEntry<CDialog> CDialog::kMessageMap[] = {
    {WM_COMMAND, BN_CLICKED, IDOK, &CDialog::OnOK},
    {WM_COMMAND, BN_CLICKED, IDCANCEL, &CDialog::OnCancel},
};

INT_PTR CDialog::DoModal()
{
    HookNextDialogCreation();
    const INT_PTR result = ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId),
                                             m_parent ? m_parent->m_hWnd : nullptr, &CDialog::DialogProc, 0);
    UnhookDialogCreation();
    return result;
}

// Every message reaches the object through the subclassed window procedure first; whatever
// it passes on arrives here, and FALSE leaves it to the platform's default dialog processing.
INT_PTR CALLBACK CDialog::DialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    CDataExchange exchange(this, saveAndValidate);
    try
    {
        DoDataExchange(&exchange);
    }
    catch (const CUserException&)
    {
        return FALSE;
    }
    return TRUE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (UpdateData(TRUE))
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

bool CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    if (message == WM_INITDIALOG)
    {
        *result = OnInitDialog();
        return true;
    }
    return DispatchMessageMap(*this, kMessageMap, message, wParam, lParam, result);
}

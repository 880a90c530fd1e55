#include "framework/Dialog.h"

#include "framework/Exceptions.h"
#include "framework/WinApp.h"

const MessageMapEntry<CDialog> CDialog::kMessageMap[] = {
    {WM_COMMAND, BN_CLICKED, IDOK, &CDialog::OnOK},
    {WM_COMMAND, BN_CLICKED, IDCANCEL, &CDialog::OnCancel},
};

INT_PTR CDialog::DoModal()
{
    // Without a parent of its own a dialog is modal to the application's main window, or else to
    // the active window: a null owner would leave that window usable behind it.
    HWND owner = m_parent ? m_parent->m_hWnd : nullptr;
    if (!owner && AfxGetApp() && AfxGetApp()->m_pMainWnd && AfxGetApp()->m_pMainWnd != this)
        owner = AfxGetApp()->m_pMainWnd->m_hWnd;
    if (!owner)
        owner = ::GetActiveWindow();
    HookNextDialogCreation();
    const INT_PTR result =
        ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), owner, &CDialog::DialogProc, 0);
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

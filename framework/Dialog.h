// The modal dialog of our framework layer, made from a dialog template resource.
#pragma once

#include "framework/DataExchange.h"
#include "framework/MessageMap.h"
#include "framework/Wnd.h"

class CDialog : public CWnd
{
  public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr) : m_templateId(templateId), m_parent(parent) {}

    // Runs the dialog until EndDialog; returns the result given to EndDialog, or -1 when the
    // dialog could not be created.
    virtual INT_PTR DoModal();
    void EndDialog(int result) { ::EndDialog(m_hWnd, result); }
    // Moves data between members and controls (TRUE: controls to members). FALSE when a
    // validation refused a value.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

  protected:
    // Fills the controls from the members; TRUE lets the platform focus the first tab stop.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange*) {}
    // IDOK: reads the controls back, then ends the dialog with IDOK.
    virtual void OnOK();
    // IDCANCEL (Escape, Close): ends the dialog with IDCANCEL.
    virtual void OnCancel();
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static const MessageMapEntry<CDialog> kMessageMap[];

    UINT m_templateId;
    CWnd* m_parent;
};

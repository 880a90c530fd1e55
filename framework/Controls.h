// Control objects attached to dialog controls by data exchange.
#pragma once

#include "framework/Wnd.h"

#include <richedit.h>

class CRichEditCtrl : public CWnd
{
  public:
    DWORD GetEventMask() const { return static_cast<DWORD>(SendMessage(EM_GETEVENTMASK)); }
    DWORD SetEventMask(DWORD mask) { return static_cast<DWORD>(SendMessage(EM_SETEVENTMASK, 0, mask)); }
};

class CSpinButtonCtrl : public CWnd
{
};

// The About box (template 100): no handlers and no data exchange of its own.
#pragma once

#include "framework/Dialog.h"

class CAboutDlg : public CDialog
{
  public:
    CAboutDlg();
};

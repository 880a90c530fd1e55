// The application object: prepares the controls and runs the main dialog once.
#pragma once

#include "framework/WinApp.h"

class CWavelarkPlayerApp : public CWinApp
{
  public:
    BOOL InitInstance() override;
    int ExitInstance() override { return m_exitCode; }

  private:
    int m_exitCode = 0;
};

// The application object: prepares the controls and runs the main dialog once.
#pragma once

#include "framework/WinApp.h"

class CWavelarkPlayerApp : public CWinApp
{
  public:
    BOOL InitInstance() override;
};

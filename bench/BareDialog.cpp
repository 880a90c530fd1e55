// The reference program of the start-up benchmark: our framework showing the main dialog's
// template with nothing behind it.
#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "res/resource.h"

#include <commctrl.h>

class CBareDialogApp : public CWinApp
{
  public:
    BOOL InitInstance() override
    {
        ::LoadLibraryA("riched20.dll");
        ::InitCommonControls();
        CDialog dialog(IDD_WAVELARKPLAYER_DIALOG);
        (void)dialog.DoModal(); // ended by the benchmark
        return FALSE;
    }
};

CBareDialogApp theApp;

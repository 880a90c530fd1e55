// The application object of WavelarkPlayerLite.exe.
#include "app/WavelarkPlayerApp.h"

CWavelarkPlayerApp theApp;

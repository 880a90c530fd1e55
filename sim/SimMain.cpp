// WavelarkPlayerSim.exe: the real program wired to the simulated receiver.
#include "app/WavelarkPlayerApp.h"
#include "sim/SimAudioSource.h"
#include "sim/SimulatedReceiver.h"

#include <cstdio>
#include <cstdlib>

class CWavelarkPlayerSimApp : public CWavelarkPlayerApp
{
  public:
    BOOL InitInstance() override
    {
        SimConfig config;
        std::string error;
        if (!ParseSimArguments(__argc, __argv, config, error))
        {
            std::fprintf(stderr, "%s\n", error.c_str());
            return FALSE;
        }
        SimulatedReceiver::Instance().Install(config);
        BOOL result;
        {
            SimAudioDevice audio; // listed as an audio input while the dialog runs
            result = CWavelarkPlayerApp::InitInstance();
        }
        SimulatedReceiver::Instance().Uninstall();
        return result;
    }
};

CWavelarkPlayerSimApp theApp;

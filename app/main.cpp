// The entry point: hardens the library search path, preloads the libraries
// the window loads at run time from System32, starts the application, reads
// the silent switch, creates the main window and runs the message loop.
// The exit code is 0 whatever happened.
#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/MainFormUnit.h"
#include "app/Security.h"
#include "platform/RegistryWin32.h"
#include "platform/ResourcesWin32.h"
#include "platform/SystemLibraryWin32.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace keystrip;
    (void)HardenDllSearchPath();
    // Before the first window: the system libraries it brings in load these
    // by name, and must find the System32 copies already in memory rather
    // than any file of that name beside the exe. A library that is missing
    // does not stop the start.
    (void)platform::PreloadSystemLibraries();

    TApplication application;
    try {
        application.Initialize();
        application.SetTitle(u"Zolva Keystrip");
        application.SetShowMainForm(!TCommandLine().HasSwitch(u"silent"));

        platform::Win32Registry registry;
        platform::Win32Resources resources;
        TMainFormServices services;
        services.Registry = &registry;
        services.Resources = &resources;
        services.Instance = instance;
        TMainForm form(application, services);
        application.Run(form.Handle());
    } catch (const std::exception& e) {
        application.HandleException(e);
    }
    return 0;
}

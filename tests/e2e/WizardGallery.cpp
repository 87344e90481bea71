// Holds the wizard on its progress page for a while, as a run does (painted
// once, then no messages), so that the page can be photographed: the real
// runs are over too quickly for that.
//
//   WizardGallery seconds
#include "app/Application.h"
#include "app/MainFormUnit.h"
#include "platform/RegistryWin32.h"
#include "platform/ResourcesWin32.h"

#include <windows.h>

#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
    using namespace keystrip;
    const int seconds = argc > 1 ? _wtoi(argv[1]) : 5;
    TApplication application;
    application.Initialize();
    platform::Win32Registry registry;
    platform::Win32Resources resources;
    TMainFormServices services;
    services.Registry = &registry;
    services.Resources = &resources;
    TMainForm form(application, services);
    ShowWindow(form.Handle(), SW_SHOWNORMAL);
    UpdateWindow(form.Handle());
    form.EnsureProductsLoaded();
    const int count = form.Products()->Count();
    form.BeginProgress(count + 1, form.Strings()->ReadString(u"Texts", u"Text03", u""));
    for (int i = 0; i < (count + 1) / 2; ++i)
        form.StepProgress(-1);
    UpdateWindow(form.Handle());
    Sleep(static_cast<DWORD>(seconds) * 1000);
    form.EndProgress(piEula);
    return 0;
}

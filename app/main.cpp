// The entry point: hardens the library search path, preloads the libraries
// the window loads at run time from System32, starts the application,
// reads the switches that shape the run, settles what ends it at once (the
// help, a second copy, bad input), then creates the main window and runs the
// message loop. At the end it writes the -log and -json files if the window
// has not written them yet, and returns the exit code: 0, unless -exitcode
// asks for the run's result.
#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/MainFormUnit.h"
#include "app/RunLog.h"
#include "app/RunOutcome.h"
#include "app/RunStart.h"
#include "app/RunSwitches.h"
#include "app/Security.h"
#include "app/StartMessages.h"
#include "app/Win32Text.h"
#include "platform/HivesWin32.h"
#include "platform/OneCopyLockWin32.h"
#include "platform/ProcessCommandLine.h"
#include "platform/RegistryWin32.h"
#include "platform/ResourcesWin32.h"
#include "platform/SystemLibraryWin32.h"

#include <windows.h>

#include <cstdlib>
#include <memory>

#if defined(__GLIBCXX__)
// An exception that escapes ends the program. The library's own handler would
// print its demangled type to a console this window program does not have,
// and would link the whole demangler (some 50 KiB) into the exe for it.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
} // namespace __gnu_cxx
#endif

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace keystrip;
    (void)HardenDllSearchPath();
    // Before the first window: the system libraries it brings in load these
    // by name, and must find the System32 copies already in memory rather
    // than any file of that name beside the exe. A library that is missing
    // does not stop the start.
    (void)platform::PreloadSystemLibraries();

    TApplication application;
    const TRunSwitches switches = ReadRunSwitches(TCommandLine());
    // Held until the process ends.
    platform::Win32OneCopyLock lock;
    TRunStart start(switches, lock, platform::ProcessCommandLine());
    if (start.Action() != TStartAction::Run)
        return EndAtStart(start, switches.Silent, u"Zolva Keystrip");
    TRunLog* log = start.Log();
    // The outcome of a run whose window never came to be.
    TRunOutcome outcome;
    try {
        application.Initialize();
        application.SetTitle(u"Zolva Keystrip");
        application.SetShowMainForm(!switches.Silent);

        platform::Win32Registry registry;
        platform::Win32Resources resources;
        platform::Win32Hives hives;
        TMainFormServices services;
        services.Registry = &registry;
        services.Resources = &resources;
        services.Instance = instance;
        services.Log = log;
        services.Unattended = switches.Silent && switches.ExitCode;
        services.Switches = switches;
        services.Hives = &hives;
        TMainForm form(application, services);
        application.Run(form.Handle());
        for (TRunProblem told : {TRunProblem::PreviewWithoutLog, TRunProblem::RestoreCombined})
            if (form.Outcome().Has(told))
                TellConsole(DescribeProblem(told));
        // A run that ended without a removal run (closed early, an error page).
        if (log)
            log->Write(form.Products() ? form.Products()->Activity() : nullptr, form.Outcome());
        return ProcessExitCode(form.Outcome(), switches.ExitCode);
    } catch (const std::exception& e) {
        // Without a desktop (a service session, no display) the window cannot
        // be created and nothing is removed; that must not read as success.
        outcome.Note(TRunProblem::WindowNotCreated, Utf8ToUtf16(e.what()));
        application.HandleException(e);
    }
    if (log)
        log->Write(nullptr, outcome);
    return ProcessExitCode(outcome, switches.ExitCode);
}

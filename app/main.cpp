// The entry point: hardens the library search path, preloads the libraries
// the window loads at run time from System32, starts the application,
// reads the switches that shape the run, then either shows the help or
// creates the main window and runs the message loop. At the end it writes
// the -log file if the window has not written it yet, and returns the exit
// code: 0, unless -exitcode asks for the run's result.
#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/HelpText.h"
#include "app/MainFormUnit.h"
#include "app/RunLog.h"
#include "app/RunOutcome.h"
#include "app/RunSwitches.h"
#include "app/Security.h"
#include "app/Win32Text.h"
#include "platform/HivesWin32.h"
#include "platform/ProcessCommandLine.h"
#include "platform/RegistryWin32.h"
#include "platform/ResourcesWin32.h"
#include "platform/SystemLibraryWin32.h"

#include <windows.h>

#include <memory>

namespace {

// A line for whoever started the program from a console or a script: a GUI
// program has no console of its own, so it writes to its parent's, if any.
void TellConsole(const std::u16string& Text) {
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    const std::wstring line = L"Zolva Keystrip: " + keystrip::AsWide(Text) + L"\r\n";
    DWORD written = 0;
    if (!WriteConsoleW(error, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr)) {
        const std::string bytes = keystrip::Utf16ToUtf8(keystrip::FromWide(line));
        WriteFile(error, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    FreeConsole();
}

} // namespace

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
    std::unique_ptr<TRunLog> log;
    if (switches.LogFile)
        log = std::make_unique<TRunLog>(*switches.LogFile, platform::ProcessCommandLine(),
                                        switches.ExitCode);
    // The outcome of a run whose window never came to be.
    TRunOutcome outcome;
    try {
        application.Initialize();
        application.SetTitle(u"Zolva Keystrip");
        if (switches.Help) {
            if (!switches.Silent)
                MessageBoxW(nullptr, AsWide(HelpText()).c_str(),
                            AsWide(application.Title()).c_str(), MB_OK | MB_ICONINFORMATION);
            return 0;
        }
        application.SetShowMainForm(!switches.Silent);

        platform::Win32Registry registry;
        platform::Win32Resources resources;
        platform::Win32Hives hives;
        TMainFormServices services;
        services.Registry = &registry;
        services.Resources = &resources;
        services.Instance = instance;
        services.Log = log.get();
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

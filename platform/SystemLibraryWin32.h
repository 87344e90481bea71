// Loading Windows libraries by file name from System32 only, never from the
// executable's folder or the current directory, whatever the process's
// search order is.
#pragma once

#include <windows.h>

#include <cstddef>

namespace keystrip::platform {

// name is a bare file name such as L"Msftedit.dll"; a name with a path or a
// drive is refused (ERROR_INVALID_PARAMETER). Where the loader knows
// LOAD_LIBRARY_SEARCH_SYSTEM32 that is used, so side-by-side redirection (the
// common controls of the manifest) still applies; elsewhere see
// LoadSystemLibraryByPath. Returns null on failure with GetLastError set.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The way for loaders without the search flags: a library of that name that
// is loaded already (the side-by-side common controls, say) is taken as it
// is, any other is loaded by its full System32 path with its own
// dependencies searched from there.
HMODULE LoadSystemLibraryByPath(const wchar_t* name);

// The libraries the wizard's window loads by name at run time, directly or
// through the system libraries it uses (the rich edit control, the common
// controls and their theming).
extern const wchar_t* const kRunTimeLibraries[];
extern const std::size_t kRunTimeLibraryCount;

// Loads every library of kRunTimeLibraries from System32 and keeps it loaded
// for the life of the process, so that a later load by name, also one that a
// system library makes itself while it starts up or draws, finds the System32
// copy in memory. Where SetDefaultDllDirectories is missing (before Windows 8
// without the loader update) nothing else keeps those loads out of the
// executable's folder. Run it after HardenDllSearchPath and before the first
// window. load is the way of loading (LoadSystemLibraryByPath for tests).
// Returns how many could not be loaded.
int PreloadSystemLibraries(HMODULE (*load)(const wchar_t*) = LoadSystemLibrary);

} // namespace keystrip::platform

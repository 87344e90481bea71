/* A stand-in for a library planted next to the executable. Loaded under any
   name, it leaves a mark beside itself, so a test can tell that the planted
   copy, not the system's, was loaded. It exports nothing.

   The mark tells whether the process had restricted its library search when
   the copy was loaded: "<its own path>.loaded" when the sentinel library
   planted beside it (SENTINEL) can no longer be found by the process's
   default search, "<its own path>.early" when it still can, as before a
   program's start-up hardening has run. */
#include <windows.h>

#define SENTINEL L"keystrip_sentinel.dll"

/* Whether the default search still reaches the executable's folder. Mapped
   without its entry point or imports, so nothing of it runs, and released at
   once. (Wine's loads as a data file ignore the default search directories,
   so they cannot tell.) */
static BOOL DefaultSearchFindsSentinel(void) {
    HMODULE sentinel = LoadLibraryExW(SENTINEL, NULL, DONT_RESOLVE_DLL_REFERENCES);
    if (sentinel == NULL)
        return FALSE;
    FreeLibrary(sentinel);
    return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 16];
        const DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            lstrcpyW(path + n, DefaultSearchFindsSentinel() ? L".early" : L".loaded");
            HANDLE mark = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, NULL);
            if (mark != INVALID_HANDLE_VALUE)
                CloseHandle(mark);
        }
    }
    return TRUE;
}

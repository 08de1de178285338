#include "fontengine.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

std::vector<char *> withFreeTypeFonts(int argc, char **argv, bool platformFromEnvironment)
{
    static char option[] = "-platform";
    static char value[] = "windows:fontengine=freetype";
    std::vector<char *> arguments(argv, argv + argc);
    bool chosen = platformFromEnvironment;
    // As Qt reads them: a -platform without a value chooses nothing.
    for (int i = 1; i + 1 < argc && !chosen; ++i)
        chosen = std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0;
    if (!chosen && argc > 0)
        arguments.insert(arguments.begin() + 1, { option, value });
    arguments.push_back(nullptr);
    return arguments;
}

bool runsUnderWine()
{
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

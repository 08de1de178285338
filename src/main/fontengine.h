#pragma once

#include <vector>

// QApplication's arguments under Wine: argv with "-platform windows:fontengine=freetype"
// after the program name, unless the user already chose a platform (-platform or --platform
// with a value, or QT_QPA_PLATFORM). Ends with a null pointer, as argv does.
std::vector<char *> withFreeTypeFonts(int argc, char **argv, bool platformFromEnvironment);

// True in a Windows program running under Wine, whose ntdll exports wine_get_version.
bool runsUnderWine();

#pragma once

// What the expected texts of a test depend on: the encoding the machine decodes replies
// in, and whether a Windows program runs under Wine (runsUnderWine()). Both are read from
// the running system, never assumed from the platform the test was built for.

#include "main/fontengine.h"

#include <QString>
#include <QTextCodec>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace localencoding {

// The local 8-bit encoding: the locale's on Linux ("UTF-8" under the suite's C.UTF-8),
// the ANSI code page on Windows ("cp1252", "cp936").
inline QString name()
{
#ifdef Q_OS_WIN
    return QStringLiteral("cp%1").arg(GetACP());
#else
    return QString::fromLatin1(QTextCodec::codecForLocale()->name());
#endif
}

} // namespace localencoding

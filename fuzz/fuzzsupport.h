#pragma once

#include <QApplication>
#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

// The debug stream would cost more than the code under test and bury libFuzzer's output.
inline void discardMessages(QtMsgType, const QMessageLogContext &, const QString &) { }

// One application for the whole run and never deleted: libFuzzer leaves through exit().
inline void startApplication()
{
    // A fuzzing host has no display; the offscreen platform needs none.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "varnitt-fuzz";
    static char *argv[] = { name, nullptr };
    new QApplication(argc, argv);
}

// Abort, so that libFuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "==fuzz== invariant violated: %s\n%s\n", what, detail.toUtf8().constData());
    std::abort();
}

} // namespace fuzzsupport

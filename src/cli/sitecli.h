#pragma once

#include <QStringList>

#include <cstdio>

// varnitt-cli: the commands search, plan, apply and set. Returns the exit status:
// 0 all done and verified, 1 a device was not, 2 bad usage or plan (nothing sent),
// 3 no usable network address (nothing sent).
int runSiteCli(const QStringList &arguments);

// Whether the debug log goes to standard error (--verbose) or nowhere.
bool siteCliVerbose(const QStringList &arguments);

// Writes UTF-8 text to standard output or error: to a Windows console as Unicode, else as bytes.
void siteCliWrite(FILE *stream, const QByteArray &utf8);

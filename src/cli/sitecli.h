#pragma once

#include <QStringList>

// varnitt-cli: the commands search, plan, apply and set. Returns the exit status:
// 0 all done and verified, 1 a device was not, 2 bad usage or plan (nothing sent),
// 3 no usable network address (nothing sent).
int runSiteCli(const QStringList &arguments);

// Whether the debug log goes to standard error (--verbose) or nowhere.
bool siteCliVerbose(const QStringList &arguments);

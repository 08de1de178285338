#pragma once

#include <QString>
#include <QStringList>

// The simulator's command line, parsed once at start-up.
struct SimulatorOptions {
    enum class Outcome { Run, ExitOk, ExitError };

    QStringList interfaces;
    QString devicesFile;
    int count = -1;
    double dropPercent = 0;
    bool duplicate = false;
    bool malformed = false;
    double incompletePercent = 0;
    QString missingMember;
    int firstAnswerDelayMs = -1;
    int replyDelayMs = -1;
    QStringList rawReplyFiles;
    // MAC addresses of the devices whose replies carry a C string's NUL, or NUL and junk.
    QStringList nulTerminated;
    QStringList nulJunk;
    QString recordFile;
    QString codec;
    bool hasSeed = false;
    quint32 seed = 0;
    bool ignoreConfig = false;
    // Devices (by MAC address) that neither apply nor answer config_net requests.
    QStringList ignoreConfigMacs;
    // One config_net reply of this device is lost per mention (the request is still applied).
    QStringList dropConfigReplyMacs;
    double configDropPercent = 0;
    bool verbose = false;

    // Fills the options from arguments; on ExitOk/ExitError, message is what to print.
    static Outcome parse(const QStringList &arguments, SimulatorOptions *options, QString *message);
};

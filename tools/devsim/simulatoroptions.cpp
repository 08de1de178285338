#include "simulatoroptions.h"

#include <type_traits>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QTextCodec>

namespace {

const char description[] = "Plays SIP audio devices on a LAN for Varnitt's tests.\n"
                           "\n"
                           "Listens on UDP port 65176 for JSON requests to 239.255.255.250 and answers\n"
                           "each search request with one search reply per device, unicast to the\n"
                           "request's source, each after a random delay within the request's\n"
                           "\"delay_max\" (500 ms when missing or invalid). A config_net request whose\n"
                           "\"macaddr\" names a device changes that device and is answered at once.\n"
                           "Nothing is ever sent except replies to received requests, and only on the\n"
                           "interfaces named with --interface: run it only on a test network.\n"
                           "Prints \"ready\" once listening; SIGTERM or SIGINT ends it.\n"
                           "\n"
                           "Misbehaviour for tests: --drop-percent applies to search replies only;\n"
                           "--duplicate to every reply; --malformed adds nine broken datagrams per\n"
                           "search (bad JSON, an array, a bare string, an empty datagram, missing\n"
                           "members, a request posing as a reply), none of them a complete reply;\n"
                           "--raw-reply files are sent once per search as they are. Searches received\n"
                           "before the --first-answer-delay point are answered at that point, once per\n"
                           "source address and port, without further delay.";

// Reads an optional numeric option within [min, max]; whole numbers for int options.
template<typename T>
bool readValue(const QCommandLineParser &parser, const QCommandLineOption &option, T min, T max, T *value,
    QString *message)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const QString text = parser.value(option);
    T number;
    if constexpr (std::is_integral_v<T>)
        number = text.toInt(&ok);
    else
        number = text.toDouble(&ok);
    if (!ok || number < min || number > max) {
        *message
            = QStringLiteral("--%1 needs %2 from %3 to %4")
                  .arg(option.names().constFirst(),
                      std::is_integral_v<T> ? QStringLiteral("a whole number") : QStringLiteral("a number"))
                  .arg(min)
                  .arg(max);
        return false;
    }
    *value = number;
    return true;
}

} // namespace

SimulatorOptions::Outcome SimulatorOptions::parse(
    const QStringList &arguments, SimulatorOptions *options, QString *message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    const QCommandLineOption help(
        { QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Show this help."));
    const QCommandLineOption interfaceOption(QStringLiteral("interface"),
        QStringLiteral("Join the group and answer on this interface (repeatable; at least one "
                       "is needed)."),
        QStringLiteral("name"));
    const QCommandLineOption devicesOption(QStringLiteral("devices"),
        QStringLiteral("Devices from a JSON array of search replies, sent as they are "
                       "(\"request\" and \"command\" forced)."),
        QStringLiteral("file"));
    const QCommandLineOption countOption(QStringLiteral("count"),
        QStringLiteral("Generate n devices (after those of --devices; default 1 without "
                       "--devices)."),
        QStringLiteral("n"));
    const QCommandLineOption dropOption(QStringLiteral("drop-percent"),
        QStringLiteral("Drop this share of search replies."), QStringLiteral("p"));
    const QCommandLineOption duplicateOption(
        QStringLiteral("duplicate"), QStringLiteral("Send every reply twice."));
    const QCommandLineOption malformedOption(
        QStringLiteral("malformed"), QStringLiteral("Also send malformed datagrams for every search."));
    const QCommandLineOption incompleteOption(QStringLiteral("incomplete"),
        QStringLiteral("This share of the devices (spread evenly) reply with one member "
                       "missing."),
        QStringLiteral("p"));
    const QCommandLineOption missingOption(QStringLiteral("missing-member"),
        QStringLiteral("The member that --incomplete leaves out (default: a different one "
                       "per device; \"custom_devtype_name\" also drops \"user_devtype_name\")."),
        QStringLiteral("key"));
    const QCommandLineOption firstAnswerOption(QStringLiteral("first-answer-delay"),
        QStringLiteral("Answer no search until ms after the first search received."), QStringLiteral("ms"));
    const QCommandLineOption replyDelayOption(QStringLiteral("reply-delay"),
        QStringLiteral("Answer searches after exactly ms instead of a random delay."), QStringLiteral("ms"));
    const QCommandLineOption rawReplyOption(QStringLiteral("raw-reply"),
        QStringLiteral("Send the bytes of file as an extra reply to every search (repeatable)."),
        QStringLiteral("file"));
    const QCommandLineOption nulTerminateOption(QStringLiteral("nul-terminate"),
        QStringLiteral("The device with this MAC address ends its replies with a NUL byte, as C "
                       "firmware does (repeatable)."),
        QStringLiteral("mac"));
    const QCommandLineOption nulJunkOption(QStringLiteral("nul-junk"),
        QStringLiteral("The device with this MAC address sends a NUL byte and leftover buffer bytes "
                       "after its replies (repeatable)."),
        QStringLiteral("mac"));
    const QCommandLineOption recordOption(QStringLiteral("record"),
        QStringLiteral("Write one JSON line per received datagram to file."), QStringLiteral("file"));
    const QCommandLineOption codecOption(QStringLiteral("codec"),
        QStringLiteral("Encode replies in this text codec instead of UTF-8 (e.g. GBK)."),
        QStringLiteral("name"));
    const QCommandLineOption seedOption(
        QStringLiteral("seed"), QStringLiteral("Seed the random delays and drops."), QStringLiteral("n"));
    const QCommandLineOption ignoreConfigOption(
        QStringLiteral("ignore-config"), QStringLiteral("Neither apply nor answer config_net requests."));
    const QCommandLineOption ignoreConfigMacOption(QStringLiteral("ignore-config-mac"),
        QStringLiteral("The device with this MAC address neither applies nor answers config_net requests "
                       "(repeatable)."),
        QStringLiteral("mac"));
    const QCommandLineOption dropConfigReplyOption(QStringLiteral("drop-config-reply"),
        QStringLiteral("Apply the next config_net request for this MAC address but lose its reply; "
                       "repeat the address to lose more than one."),
        QStringLiteral("mac"));
    const QCommandLineOption configDropOption(QStringLiteral("config-drop-percent"),
        QStringLiteral("Apply config_net requests but lose this share of their replies."),
        QStringLiteral("p"));
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"), QStringLiteral("Log requests and replies to stderr."));
    parser.addOptions({ help, interfaceOption, devicesOption, countOption, dropOption, duplicateOption,
        malformedOption, incompleteOption, missingOption, firstAnswerOption, replyDelayOption, rawReplyOption,
        nulTerminateOption, nulJunkOption, recordOption, codecOption, seedOption, ignoreConfigOption,
        ignoreConfigMacOption, dropConfigReplyOption, configDropOption,
        verboseOption });

    if (!parser.parse(arguments)) {
        *message = parser.errorText();
        return Outcome::ExitError;
    }
    if (parser.isSet(help)) {
        *message = parser.helpText();
        return Outcome::ExitOk;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *message = QStringLiteral("unexpected argument: ") + parser.positionalArguments().first();
        return Outcome::ExitError;
    }

    options->interfaces = parser.values(interfaceOption);
    if (options->interfaces.isEmpty()) {
        *message = QStringLiteral("needs --interface NAME; run it only on a test network");
        return Outcome::ExitError;
    }
    options->devicesFile = parser.value(devicesOption);
    options->duplicate = parser.isSet(duplicateOption);
    options->malformed = parser.isSet(malformedOption);
    options->missingMember = parser.value(missingOption);
    options->rawReplyFiles = parser.values(rawReplyOption);
    options->nulTerminated = parser.values(nulTerminateOption);
    options->nulJunk = parser.values(nulJunkOption);
    options->recordFile = parser.value(recordOption);
    options->ignoreConfig = parser.isSet(ignoreConfigOption);
    options->ignoreConfigMacs = parser.values(ignoreConfigMacOption);
    options->dropConfigReplyMacs = parser.values(dropConfigReplyOption);
    options->verbose = parser.isSet(verboseOption);

    if (!readValue(parser, countOption, 0, 1 << 24, &options->count, message)
        || !readValue(parser, dropOption, 0.0, 100.0, &options->dropPercent, message)
        || !readValue(parser, configDropOption, 0.0, 100.0, &options->configDropPercent, message)
        || !readValue(parser, incompleteOption, 0.0, 100.0, &options->incompletePercent, message)
        || !readValue(parser, firstAnswerOption, 0, 24 * 3600 * 1000, &options->firstAnswerDelayMs, message)
        || !readValue(parser, replyDelayOption, 0, 24 * 3600 * 1000, &options->replyDelayMs, message))
        return Outcome::ExitError;
    if (options->count < 0)
        options->count = options->devicesFile.isEmpty() ? 1 : 0;

    if (parser.isSet(seedOption)) {
        bool ok = false;
        options->seed = parser.value(seedOption).toUInt(&ok);
        if (!ok) {
            *message = QStringLiteral("--seed needs an unsigned whole number");
            return Outcome::ExitError;
        }
        options->hasSeed = true;
    }
    if (parser.isSet(codecOption)) {
        options->codec = parser.value(codecOption);
        if (!QTextCodec::codecForName(options->codec.toLatin1())) {
            *message = QStringLiteral("unknown codec: ") + options->codec;
            return Outcome::ExitError;
        }
    }
    return Outcome::Run;
}

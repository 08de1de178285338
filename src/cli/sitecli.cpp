#include "sitecli.h"

#include "discoverymessages.h"
#include "discoverysockets.h"
#include "sitesession.h"
#include "sitetext.h"

#include <QCommandLineParser>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

enum Exit { Done = 0, NotDone = 1, BadUsage = 2, NoNetwork = 3 };

const char overview[] = "Usage: varnitt-cli [--interface NAME]... COMMAND [OPTIONS]\n"
                        "\n"
                        "Finds SIP audio devices on the local network and gives a whole site its\n"
                        "planned addresses.\n"
                        "\n"
                        "Commands:\n"
                        "  search   one search cycle, then one line or record per MAC address\n"
                        "  plan     write a plan CSV for the devices found, addresses counted up\n"
                        "  apply    check a plan, send it, verify every device against it\n"
                        "  set      change one device, found by a search first\n"
                        "\n"
                        "Options of every command:\n"
                        "  --interface NAME   use only this adapter (repeatable); default: every\n"
                        "                     usable IPv4 address\n"
                        "  --verbose          write the protocol's debug log to standard error\n"
                        "  -h, --help         describe the command\n"
                        "\n"
                        "Exit status: 0 everything asked for was done and verified; 1 a device was\n"
                        "not; 2 bad usage or a bad plan, nothing sent; 3 no usable network address,\n"
                        "nothing sent. \"varnitt-cli COMMAND --help\" describes each command.\n";

void printOut(const QByteArray &bytes)
{
    siteCliWrite(stdout, bytes);
}

void printErr(const QString &text)
{
    siteCliWrite(stderr, text.toUtf8());
}

void complain(const QString &text)
{
    printErr(QStringLiteral("varnitt-cli: ") + text + QLatin1Char('\n'));
}

bool stdinIsTerminal()
{
#ifdef Q_OS_WIN
    // _isatty() is true for NUL too, which is no one to ask.
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
#else
    return ::isatty(STDIN_FILENO);
#endif
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        complain(path + QStringLiteral(": ") + file.errorString());
        return false;
    }
    return true;
}

const QStringList fields = { QStringLiteral("mac"), QStringLiteral("ip"), QStringLiteral("mask"),
    QStringLiteral("gateway"), QStringLiteral("dhcp"), QStringLiteral("http_port"),
    QStringLiteral("sip_account"), QStringLiteral("sip_port"), QStringLiteral("name"), QStringLiteral("type"),
    QStringLiteral("vendor_type"), QStringLiteral("status") };

QStringList cells(const SiteDevice &d)
{
    return { d.mac, d.ip, d.mask, d.gateway, d.dhcp ? QStringLiteral("yes") : QStringLiteral("no"),
        QString::number(d.httpPort), d.sipAccount, QString::number(d.sipPort), d.name, d.type, d.vendorType,
        discovery::deviceStatusText(d.status) };
}

QJsonObject record(const SiteDevice &d)
{
    return { { QStringLiteral("mac"), d.mac }, { QStringLiteral("ip"), d.ip },
        { QStringLiteral("mask"), d.mask }, { QStringLiteral("gateway"), d.gateway },
        { QStringLiteral("dhcp"), d.dhcp }, { QStringLiteral("http_port"), d.httpPort },
        { QStringLiteral("sip_account"), d.sipAccount }, { QStringLiteral("sip_port"), d.sipPort },
        { QStringLiteral("name"), d.name }, { QStringLiteral("type"), d.type },
        { QStringLiteral("vendor_type"), d.vendorType },
        { QStringLiteral("status"), discovery::deviceStatusText(d.status) } };
}

void sortByMac(QList<SiteDevice> *devices)
{
    std::stable_sort(devices->begin(), devices->end(), [](const SiteDevice &a, const SiteDevice &b) {
        const QString ka = siteplan::macKey(a.mac), kb = siteplan::macKey(b.mac);
        return ka != kb ? ka < kb : a.mac < b.mac;
    });
}

// Factory defaults make both common: several devices on one address, and addresses this
// computer cannot reach.
void warnAboutAddresses(const QList<SiteDevice> &devices, const QList<QNetworkAddressEntry> &local)
{
    QMap<QString, QStringList> byAddress;
    for (const SiteDevice &d : devices)
        byAddress[d.ip] << d.mac;
    for (auto it = byAddress.cbegin(); it != byAddress.cend(); ++it) {
        if (it.value().size() > 1)
            complain(QStringLiteral("warning: %1 devices share the address %2: %3")
                         .arg(it.value().size())
                         .arg(sitetext::printable(it.key()),
                             sitetext::printable(it.value().join(QStringLiteral(", ")))));
    }
    for (const SiteDevice &d : devices) {
        const QHostAddress address(d.ip);
        const bool reachable = std::any_of(local.cbegin(), local.cend(),
            [&](const QNetworkAddressEntry &e) { return address.isInSubnet(e.ip(), e.prefixLength()); });
        if (!reachable)
            complain(
                QStringLiteral("warning: %1 has the address %2, in no subnet of this computer's adapters: "
                               "its web page cannot open from here; a plan moves it")
                    .arg(sitetext::printable(d.mac), sitetext::printable(d.ip)));
    }
}

// One search, its devices in MAC order, with the warnings about their addresses.
QList<SiteDevice> foundInMacOrder(SiteSession *session)
{
    QList<SiteDevice> devices = session->search();
    sortByMac(&devices);
    warnAboutAddresses(devices, session->addresses());
    return devices;
}

struct Common {
    QCommandLineOption adapter {
        QStringLiteral("interface"), QStringLiteral("Use only this adapter (repeatable)."),
            QStringLiteral("NAME")
    };
    QCommandLineOption verbose { QStringLiteral("verbose"),
        QStringLiteral("Write the debug log to standard error.") };
    QCommandLineOption help { { QStringLiteral("h"), QStringLiteral("help") },
        QStringLiteral("Describe the command.") };
};

// The session on the adapters asked for; an exit status when there is none.
int openSession(SiteSession *session, const QStringList &interfaces)
{
    const QStringList usable = discovery::usableInterfaceNames();
    QStringList known = usable;
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : all) {
        if (discovery::isUsableInterface(iface))
            known << iface.humanReadableName();
    }
    for (const QString &name : interfaces) {
        if (!known.contains(name)) {
            complain(QStringLiteral("no usable adapter is named \"%1\"; there are: %2")
                         .arg(name,
                             usable.isEmpty() ? QStringLiteral("none") : usable.join(QStringLiteral(", "))));
            return BadUsage;
        }
    }
    if (!session->open(interfaces)) {
        complain(QStringLiteral("no usable network address: nothing sent"));
        return NoNetwork;
    }
    return Done;
}

// Parses a command's options; an exit status (with the message printed) when it is not to run.
int parseCommand(QCommandLineParser *parser, const Common &common, const QStringList &arguments,
    const QString &description, int positionals, const QString &positionalName)
{
    parser->setApplicationDescription(description);
    parser->addOptions({ common.adapter, common.verbose, common.help });
    if (!parser->parse(arguments)) {
        complain(parser->errorText());
        return BadUsage;
    }
    if (parser->isSet(common.help)) {
        printOut(parser->helpText().toUtf8());
        return Done;
    }
    if (parser->positionalArguments().size() != positionals + 1) {
        complain(positionals
                ? QStringLiteral("%1 needs %2")
                      .arg(parser->positionalArguments().constFirst(), positionalName)
                : QStringLiteral("unexpected argument: ") + parser->positionalArguments().last());
        return BadUsage;
    }
    return -1;
}

QString formatOf(
    const QCommandLineParser &parser, const QCommandLineOption &option, const QStringList &allowed, bool *ok)
{
    const QString format = parser.isSet(option) ? parser.value(option) : allowed.constFirst();
    *ok = allowed.contains(format);
    if (!*ok)
        complain(QStringLiteral("--format takes %1").arg(allowed.join(QLatin1Char('|'))));
    return format;
}

int search(const QStringList &arguments)
{
    Common common;
    QCommandLineParser parser;
    const QCommandLineOption format(QStringLiteral("format"),
        QStringLiteral(
            "table (for people, the default), csv (RFC 4180, with a header row) or json (one array)."),
        QStringLiteral("FORMAT"));
    const QCommandLineOption output(QStringLiteral("output"),
        QStringLiteral(
            "Write to FILE instead of standard output; a CSV file gets a byte-order mark and CR LF."),
        QStringLiteral("FILE"));
    parser.addOptions({ format, output });
    const int early = parseCommand(&parser, common, arguments,
        QStringLiteral(
            "varnitt-cli search: one search cycle, then one line or record per MAC address, in MAC "
            "order, with the fields %1. Warns on standard error of devices that share an address and "
            "of addresses in no subnet of this computer's adapters.")
            .arg(fields.join(QStringLiteral(", "))),
        0, QString());
    if (early >= 0)
        return early;
    bool ok = false;
    const QString kind = formatOf(parser, format, { "table", "csv", "json" }, &ok);
    if (!ok)
        return BadUsage;

    SiteSession session;
    if (const int status = openSession(&session, parser.values(common.adapter)))
        return status;
    const QList<SiteDevice> devices = foundInMacOrder(&session);

    const bool toFile = parser.isSet(output);
    QByteArray bytes;
    if (kind == QLatin1String("json")) {
        QJsonArray array;
        for (const SiteDevice &d : qAsConst(devices))
            array << record(d);
        bytes = QJsonDocument(array).toJson(QJsonDocument::Indented);
    } else {
        QList<QStringList> rows { fields };
        for (const SiteDevice &d : qAsConst(devices))
            rows << cells(d);
        bytes = kind == QLatin1String("csv") ? sitetext::csv(rows, toFile) : sitetext::table(rows).toUtf8();
    }
    if (toFile)
        return writeFile(parser.value(output), bytes) ? Done : NotDone;
    printOut(bytes);
    return Done;
}

int plan(const QStringList &arguments)
{
    Common common;
    QCommandLineParser parser;
    const QCommandLineOption first(
        QStringLiteral("first"), QStringLiteral("The first address to give."), QStringLiteral("IP"));
    const QCommandLineOption mask(
        QStringLiteral("mask"), QStringLiteral("The subnet mask."), QStringLiteral("MASK"));
    const QCommandLineOption gateway(
        QStringLiteral("gateway"), QStringLiteral("The gateway."), QStringLiteral("GW"));
    const QCommandLineOption port(QStringLiteral("http-port"),
        QStringLiteral("The HTTP port for every device (default: keep each one's)."), QStringLiteral("PORT"));
    const QCommandLineOption output(QStringLiteral("output"),
        QStringLiteral(
            "Write the plan to FILE (UTF-8 with a byte-order mark, CR LF) instead of standard output."),
        QStringLiteral("FILE"));
    parser.addOptions({ first, mask, gateway, port, output });
    const int early = parseCommand(&parser, common, arguments,
        QStringLiteral(
            "varnitt-cli plan: searches, then writes a plan CSV for the devices found, in MAC order, "
            "with static addresses counted up from --first. It skips the subnet's network and "
            "broadcast addresses, the gateway, this computer's own addresses and every address a "
            "device found uses. Edit it in a spreadsheet, then give it to apply."),
        0, QString());
    if (early >= 0)
        return early;
    if (!parser.isSet(first) || !parser.isSet(mask) || !parser.isSet(gateway)) {
        complain(QStringLiteral("plan needs --first, --mask and --gateway"));
        return BadUsage;
    }
    QString httpPort;
    if (parser.isSet(port)) {
        bool ok = false;
        const int number = parser.value(port).toInt(&ok);
        if (!ok || number < 1 || number > 65535) {
            complain(QStringLiteral("--http-port takes 1-65535"));
            return BadUsage;
        }
        httpPort = QString::number(number);
    }
    QString error;
    // The options are checked before anything is sent.
    if (siteplan::allocate(parser.value(first), parser.value(mask), parser.value(gateway), 0, {}, &error)
            .isEmpty()
        && !error.isEmpty()) {
        complain(error);
        return BadUsage;
    }

    SiteSession session;
    if (const int status = openSession(&session, parser.values(common.adapter)))
        return status;
    const QList<SiteDevice> devices = foundInMacOrder(&session);
    QSet<quint32> taken;
    quint32 value = 0;
    for (const QNetworkAddressEntry &entry : session.addresses())
        taken.insert(entry.ip().toIPv4Address());
    for (const SiteDevice &d : qAsConst(devices)) {
        if (siteplan::parseQuad(d.ip, &value))
            taken.insert(value);
    }
    const QStringList addresses = siteplan::allocate(
        parser.value(first), parser.value(mask), parser.value(gateway), devices.size(), taken, &error);
    if (!error.isEmpty()) {
        complain(error);
        return BadUsage;
    }
    QList<QStringList> rows { { "mac", "dhcp", "ip", "mask", "gateway", "http_port" } };
    for (int i = 0; i < devices.size(); ++i)
        rows << QStringList { devices.at(i).mac, QStringLiteral("no"), addresses.at(i), parser.value(mask),
            parser.value(gateway), httpPort };
    if (devices.isEmpty())
        complain(QStringLiteral("no device answered: the plan has no rows"));
    if (parser.isSet(output))
        return writeFile(parser.value(output), sitetext::csv(rows, true)) ? Done : NotDone;
    printOut(sitetext::csv(rows, false));
    return Done;
}

QString change(const char *what, const QString &from, const QString &to)
{
    return from == to ? QString() : QStringLiteral("%1 %2 -> %3").arg(QLatin1String(what), from, to);
}

QString changes(const PlanStep &step)
{
    const SiteTarget now = SiteTarget::of(step.current);
    const auto yesNo = [](bool b) { return b ? QStringLiteral("yes") : QStringLiteral("no"); };
    QStringList parts { change("dhcp", yesNo(now.dhcp), yesNo(step.target.dhcp)) };
    if (!step.target.dhcp) {
        parts << change("ip", now.ip, step.target.ip) << change("mask", now.mask, step.target.mask)
              << change("gateway", now.gateway, step.target.gateway);
    }
    parts << change("http_port", QString::number(now.httpPort), QString::number(step.target.httpPort));
    parts.removeAll(QString());
    return sitetext::printable(parts.join(QStringLiteral(", ")));
}

// Sends the checked plan, verifies it, reports every row; the exit status.
int carryOut(const QList<PlanStep> &steps, SiteSession *session, bool dryRun, bool yes, const QString &format)
{
    const bool json = format == QLatin1String("json");
    QList<QStringList> shown { { "line", "mac", "change" } };
    QList<SiteSession::Request> requests;
    for (const PlanStep &step : steps) {
        QString what = !step.found ? QStringLiteral("not found")
            : step.changes()       ? changes(step)
                                   : QStringLiteral("none");
        shown << QStringList { QString::number(step.row.line), step.row.mac, what };
        if (step.changes())
            requests << SiteSession::Request { step.current.mac, step.target };
    }
    // With --format json the report alone goes to standard output.
    const QString listing = sitetext::table(shown);
    if (json)
        printErr(listing);
    else
        printOut(listing.toUtf8());
    if (dryRun)
        return Done;
    if (!requests.isEmpty() && !yes && stdinIsTerminal()) {
        printErr(QStringLiteral("Change %1 devices? [y/N] ").arg(requests.size()));
        QTextStream in(stdin);
        const QString answer = in.readLine().trimmed().toLower();
        if (answer != QLatin1String("y") && answer != QLatin1String("yes")) {
            complain(QStringLiteral("nothing sent"));
            return NotDone;
        }
    }

    const QSet<QString> answered = session->configure(requests);
    QList<SiteDevice> after = session->search();
    QHash<QString, SiteDevice> reported;
    for (const SiteDevice &d : qAsConst(after))
        reported.insert(siteplan::macKey(d.mac), d);

    bool allVerified = true;
    QJsonArray report;
    QList<QStringList> rows { { "line", "mac", "result", "reported" } };
    for (const PlanStep &step : steps) {
        const QString key = siteplan::macKey(step.row.mac);
        QString result;
        QString detail;
        QJsonObject entry { { QStringLiteral("line"), step.row.line },
            { QStringLiteral("mac"), step.row.mac } };
        const bool sent = step.changes();
        if (!step.found) {
            result = QStringLiteral("not found");
        } else if (reported.contains(key) && step.target.reachedBy(reported.value(key))) {
            result = QStringLiteral("verified");
        } else if (!reported.contains(key) || (sent && !answered.contains(key))) {
            result = QStringLiteral("no answer");
        } else {
            result = QStringLiteral("changed but differs");
            PlanStep now = step;
            now.current = reported.value(key);
            entry.insert(QStringLiteral("reported"), record(now.current));
            detail = QStringLiteral("reports ")
                + changes(now).replace(QStringLiteral(" -> "), QStringLiteral(", planned "));
        }
        allVerified = allVerified && result == QLatin1String("verified");
        entry.insert(QStringLiteral("result"), result);
        report << entry;
        rows << QStringList { QString::number(step.row.line), step.row.mac, result, detail };
    }
    printOut(json ? QJsonDocument(report).toJson(QJsonDocument::Indented) : sitetext::table(rows).toUtf8());
    return allVerified ? Done : NotDone;
}

// Searches, checks the rows against the devices found; exit status 2 with the problems.
int applyRows(
    const QList<PlanRow> &rows, const QStringList &interfaces, bool dryRun, bool yes, const QString &format)
{
    SiteSession session;
    if (const int status = openSession(&session, interfaces))
        return status;
    const QList<SiteDevice> devices = session.search();
    QStringList problems;
    const QList<PlanStep> steps = siteplan::check(rows, devices, &problems);
    if (!problems.isEmpty()) {
        for (const QString &problem : qAsConst(problems))
            complain(sitetext::printable(problem));
        complain(QStringLiteral("the plan is not sound: nothing sent"));
        return BadUsage;
    }
    return carryOut(steps, &session, dryRun, yes, format);
}

int apply(const QStringList &arguments)
{
    Common common;
    QCommandLineParser parser;
    const QCommandLineOption dryRun(
        QStringLiteral("dry-run"), QStringLiteral("Show the changes, send nothing."));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Do not ask before sending."));
    const QCommandLineOption format(QStringLiteral("format"),
        QStringLiteral("The report as a table (the default) or json."), QStringLiteral("FORMAT"));
    parser.addOptions({ dryRun, yes, format });
    parser.addPositionalArgument(QStringLiteral("PLAN.csv"), QStringLiteral("The plan."));
    const int early = parseCommand(&parser, common, arguments,
        QStringLiteral(
            "varnitt-cli apply: makes the site match a plan. The plan is CSV with a header row naming its "
            "columns "
            "in any order: mac (required), dhcp (yes/no, true/false, 1/0), ip, mask, gateway, http_port; an "
            "empty cell keeps the device's value; ',' or ';' separates, a byte-order mark and CR LF are "
            "accepted. It searches, checks every row (each problem with its line number, then exit status 2 "
            "with nothing sent), shows each device's change, asks when standard input is a terminal, sends "
            "config_net one every %1 ms, resends twice at most to devices that do not answer within %2 ms, "
            "searches again and reports each row: verified, changed but differs, no answer, or not found.")
            .arg(configPaceMs)
            .arg(configReplyTimeoutMs),
        1, QStringLiteral("a plan file"));
    if (early >= 0)
        return early;
    bool ok = false;
    const QString kind = formatOf(parser, format, { "table", "json" }, &ok);
    if (!ok)
        return BadUsage;
    QFile file(parser.positionalArguments().at(1));
    if (!file.open(QIODevice::ReadOnly)) {
        complain(file.fileName() + QStringLiteral(": ") + file.errorString());
        return BadUsage;
    }
    QStringList problems;
    const QList<PlanRow> rows = siteplan::read(file.readAll(), &problems);
    if (!problems.isEmpty()) {
        for (const QString &problem : qAsConst(problems))
            complain(sitetext::printable(problem));
        complain(QStringLiteral("the plan is not sound: nothing sent"));
        return BadUsage;
    }
    return applyRows(rows, parser.values(common.adapter), parser.isSet(dryRun), parser.isSet(yes), kind);
}

int set(const QStringList &arguments)
{
    Common common;
    QCommandLineParser parser;
    const QCommandLineOption dhcp(QStringLiteral("dhcp"), QStringLiteral("Turn DHCP on."));
    const QCommandLineOption ip(
        QStringLiteral("ip"), QStringLiteral("This static address (turns DHCP off)."), QStringLiteral("IP"));
    const QCommandLineOption mask(
        QStringLiteral("mask"), QStringLiteral("The subnet mask."), QStringLiteral("MASK"));
    const QCommandLineOption gateway(
        QStringLiteral("gateway"), QStringLiteral("The gateway."), QStringLiteral("GW"));
    const QCommandLineOption port(
        QStringLiteral("http-port"), QStringLiteral("The HTTP port."), QStringLiteral("PORT"));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Do not ask before sending."));
    const QCommandLineOption dryRun(
        QStringLiteral("dry-run"), QStringLiteral("Show the change, send nothing."));
    parser.addOptions({ dhcp, ip, mask, gateway, port, yes, dryRun });
    parser.addPositionalArgument(QStringLiteral("MAC"), QStringLiteral("The device."));
    const int early = parseCommand(&parser, common, arguments,
        QStringLiteral(
            "varnitt-cli set: changes one device, found by a search first. Values not given are kept "
            "from its search reply. The checks and the verification are those of a one-row plan "
            "(see apply --help)."),
        1, QStringLiteral("a MAC address"));
    if (early >= 0)
        return early;
    if (parser.isSet(dhcp) && parser.isSet(ip)) {
        complain(QStringLiteral("--dhcp and --ip exclude each other"));
        return BadUsage;
    }
    PlanRow row { 1, parser.positionalArguments().at(1),
        parser.isSet(dhcp)     ? QStringLiteral("yes")
            : parser.isSet(ip) ? QStringLiteral("no")
                               : QString(),
        parser.value(ip), parser.value(mask), parser.value(gateway), parser.value(port) };
    return applyRows({ row }, parser.values(common.adapter), parser.isSet(dryRun), parser.isSet(yes),
        QStringLiteral("table"));
}

} // namespace

void siteCliWrite(FILE *stream, const QByteArray &utf8)
{
#ifdef Q_OS_WIN
    // A console shows Unicode whatever its code page, and only WriteConsoleW gives it that:
    // bytes would be read in the console's code page (936, 1252, 437...). Redirected, the
    // output is UTF-8 like everywhere else.
    const HANDLE console = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode;
    if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
        const QString text = QString::fromUtf8(utf8);
        // Older consoles refuse one write of more than 64 KB.
        const int chunk = 8192;
        for (int at = 0; at < text.size();) {
            int n = qMin(chunk, text.size() - at);
            if (at + n < text.size() && text.at(at + n - 1).isHighSurrogate())
                --n;
            DWORD written = 0;
            if (!WriteConsoleW(console, reinterpret_cast<const wchar_t *>(text.utf16() + at), DWORD(n), &written,
                    nullptr)
                || written == 0)
                break;
            at += int(written);
        }
        return;
    }
#endif
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stream);
    std::fflush(stream);
}

bool siteCliVerbose(const QStringList &arguments)
{
    return arguments.contains(QStringLiteral("--verbose"));
}

int runSiteCli(const QStringList &arguments)
{
    // The command is the first argument that is neither an option nor an option's value.
    QString command;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--interface")) {
            ++i;
            continue;
        }
        if (!a.startsWith(QLatin1Char('-'))) {
            command = a;
            break;
        }
    }
    if (command.isEmpty()) {
        const bool help
            = arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"));
        if (help) {
            printOut(overview);
            return Done;
        }
        printErr(QString::fromLatin1(overview));
        return BadUsage;
    }
    if (command == QLatin1String("search"))
        return search(arguments);
    if (command == QLatin1String("plan"))
        return plan(arguments);
    if (command == QLatin1String("apply"))
        return apply(arguments);
    if (command == QLatin1String("set"))
        return set(arguments);
    complain(QStringLiteral("unknown command \"%1\"; varnitt-cli --help lists them").arg(command));
    return BadUsage;
}

// IPAddress::setIP with arbitrary text on one editor kept across inputs.

#include "fuzzsupport.h"
#include "ipaddress.h"

#include <QLineEdit>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <limits>

namespace {

IPAddress *editor = nullptr;
QLineEdit *fields[4] = {};

// Four octets of one to three ASCII digits, none above 255.
bool isDottedQuad(const QString &text)
{
    const QStringList octets = text.split(QLatin1Char('.'));
    if (octets.size() != 4)
        return false;
    for (const QString &octet : octets) {
        if (octet.isEmpty() || octet.size() > 3)
            return false;
        for (const QChar ch : octet) {
            if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
                return false;
        }
        if (octet.toInt() > 255)
            return false;
    }
    return true;
}

QString fieldsJoined()
{
    QStringList texts;
    for (const QLineEdit *field : fields)
        texts << field->text();
    return texts.join(QLatin1Char('.'));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(fuzzsupport::discardMessages);
    fuzzsupport::startApplication();
    editor = new IPAddress;
    const char *const names[] = { "txtIP1", "txtIP2", "txtIP3", "txtIP4" };
    for (int i = 0; i < 4; ++i) {
        fields[i] = editor->findChild<QLineEdit *>(QLatin1String(names[i]));
        if (!fields[i])
            fuzzsupport::fail("octet field missing", QLatin1String(names[i]));
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > size_t(std::numeric_limits<int>::max()))
        return 0;
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const QString before = editor->getIP();
    editor->setIP(input);
    const QString after = editor->getIP();

    // setIP either takes the whole address or leaves everything as it was.
    if (after != before && after != input)
        fuzzsupport::fail("getIP() is neither the old address nor the input",
            QStringLiteral("input: [%1]\nbefore: [%2]\nafter: [%3]").arg(input, before, after));
    if (after != before && !isDottedQuad(after))
        fuzzsupport::fail("setIP() took what is no dotted quad", QStringLiteral("input: [%1]").arg(input));
    if (!after.isEmpty() && fieldsJoined() != after)
        fuzzsupport::fail("the fields do not spell getIP()",
            QStringLiteral("input: [%1]\ngetIP: [%2]\nfields: [%3]").arg(input, after, fieldsJoined()));
    return 0;
}

#include "datagramrecorder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTextCodec>

bool DatagramRecorder::open(const QString &path, QString *error)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        *error = path + QStringLiteral(": ") + m_file.errorString();
        return false;
    }
    return true;
}

void DatagramRecorder::record(double timeMs, const QNetworkDatagram &datagram)
{
    if (!m_file.isOpen())
        return;
    const QByteArray payload = datagram.data();
    QJsonObject line;
    line.insert(QStringLiteral("t"), timeMs);
    line.insert(QStringLiteral("src"), datagram.senderAddress().toString());
    line.insert(QStringLiteral("port"), datagram.senderPort());
    line.insert(QStringLiteral("dst"), datagram.destinationAddress().toString());
    line.insert(QStringLiteral("ifindex"), static_cast<int>(datagram.interfaceIndex()));
    line.insert(QStringLiteral("ttl"), datagram.hopLimit());
    line.insert(QStringLiteral("bytes"), QString::fromLatin1(payload.toBase64()));
    // A leading BOM stays in the text: the record shows what arrived.
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const QString text = QTextCodec::codecForMib(106)->toUnicode(payload.constData(), payload.size(), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        line.insert(QStringLiteral("text"), text);
    m_file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
}

#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class AudioDevice;
class NetworkConfig;

// The discovery protocol's messages, shared by the window and the command line.
namespace discovery {

// The search request as it leaves: the JSON writer's indented UTF-8 text.
QByteArray searchRequestBytes();
// The config_net request as the JSON writer prints it (UTF-8, for the log).
QByteArray configNetRequestBytes(const NetworkConfig &config);
// The datagram that carries it: that text encoded in GBK, as devices expect.
QByteArray configNetPayload(const QByteArray &requestBytes);

// Fills device from a search reply; 0, or the negative code of the first missing member.
int parseSearchReply(const QJsonObject &object, AudioDevice *device);

enum class ReplyKind { None, Search, ConfigNet };
// Decides what one received text is: a search reply, a config_net reply, or nothing
// (not an object, a request, no command, another command). Logs as it goes.
ReplyKind classifyReply(const QString &text, QJsonObject *object);

// A config_net reply's "macaddr" (empty when it is not text); false when it has none.
bool configNetReplyMac(const QJsonObject &object, QString *mac);

// The text shown for a "dev_status" code.
QString deviceStatusText(int status);

} // namespace discovery

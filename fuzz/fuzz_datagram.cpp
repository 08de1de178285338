// A received datagram's bytes through the reply path of a real main window.

#include "encoding.h"
#include "fuzzsupport.h"
#include "mainwindow.h"
#include "netns/testnetworkguard.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTableWidget>

#include <cstddef>
#include <cstdint>
#include <limits>

namespace {

// Rows only ever grow; a fresh window bounds the memory over millions of inputs.
constexpr int rowLimit = 256;

MainWindow *window = nullptr;
QTableWidget *table = nullptr;
// The MAC column of every row, to tell a second row for the same device.
QSet<QString> listedMacs;

void buildWindow()
{
    delete window;
    QCoreApplication::sendPostedEvents();
    window = new MainWindow;
    listedMacs.clear();
    table = window->findChild<QTableWidget *>(QStringLiteral("tableWidgetDevList"));
    if (!table)
        fuzzsupport::fail("no device table", QString());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(fuzzsupport::discardMessages);
    // The window opens and joins discovery sockets on every interface it can use;
    // fuzz/run.sh runs it in an empty network namespace.
    testnetwork::requireTestNetwork("fuzz_datagram");
    fuzzsupport::startApplication();
    buildWindow();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > size_t(std::numeric_limits<int>::max()))
        return 0;
    const QString text
        = decodeReply(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    const int rowsBefore = table->rowCount();
    window->parseResponse(text);
    const int added = table->rowCount() - rowsBefore;
    if (added > 1)
        fuzzsupport::fail("more than one row for one datagram", text);
    if (added == 1) {
        const QTableWidgetItem *macItem = table->item(rowsBefore, 5);
        const QString mac = macItem ? macItem->text() : QStringLiteral("<no item>");
        if (listedMacs.contains(mac))
            fuzzsupport::fail("a second row for a listed MAC", mac);
        listedMacs.insert(mac);
        // Parsed again only for the few inputs that add a row.
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        if (message.value(QLatin1String("request")) == QJsonValue(true))
            fuzzsupport::fail("a row for a request", text);
    }
    if (table->rowCount() >= rowLimit)
        buildWindow();
    return 0;
}

// A received datagram's bytes through the reply path of a real main window.

#include "fuzzsupport.h"
#include "mainwindow.h"
#include "netns/testnetworkguard.h"

#include <QTableWidget>

#include <cstddef>
#include <cstdint>
#include <limits>

namespace {

// Rows only ever grow; a fresh window bounds the memory over millions of inputs.
constexpr int rowLimit = 256;

MainWindow *window = nullptr;
QTableWidget *table = nullptr;

void buildWindow()
{
    delete window;
    QCoreApplication::sendPostedEvents();
    window = new MainWindow;
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
    // Decoded as the socket slot decodes a datagram.
    window->parseResponse(QString::fromLocal8Bit(reinterpret_cast<const char *>(data), int(size)));
    if (table->rowCount() >= rowLimit)
        buildWindow();
    return 0;
}

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "audiodevice.h"
#include "searchcycle.h"

#include <QDebug>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

bool MainWindow::sendSearchRequest()
{
    if (udpSockets.isEmpty())
        return false;
    const QByteArray request = searchRequestBytes();
    qDebug() << request;
    writeToAllSockets(request);
    return true;
}

void MainWindow::on_pushButtonSearch_clicked()
{
    if (!sendSearchRequest())
        return;
    searchTimer->start(discovery::searchTickMs);
    searchCount = 0;
    clearDeviceForm();
    clearDeviceTable();
    progressBar->setMinimum(0);
    progressBar->setMaximum(0);
    statusLabel->setText(tr("search device..."));
    ui->pushButtonSearch->setEnabled(false);
}

void MainWindow::searchTick()
{
    if (discovery::searchTickRepeats(&searchCount)) {
        sendSearchRequest();
        return;
    }
    searchTimer->stop();
    progressBar->setMinimum(0);
    progressBar->setMaximum(100);
    ui->pushButtonSearch->setEnabled(true);
    statusLabel->setText(tr("search device finish."));
}

void MainWindow::clearDeviceTable()
{
    QTableWidget *table = ui->tableWidgetDevList;
    const int rows = table->rowCount();
    const int columns = table->columnCount();
    for (int row = 0; row < rows; ++row) {
        if (QTableWidgetItem *first = table->item(row, 0))
            delete static_cast<AudioDevice *>(first->data(Qt::UserRole).value<void *>());
        for (int column = 0; column < columns; ++column)
            delete table->takeItem(row, column);
    }
    table->clearContents();
    table->setRowCount(0);
    listedMacs.clear();
}

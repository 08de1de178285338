#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QEvent>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>

namespace {

// Column widths in percent of the table's outer width; they add up to 98.
constexpr int columnShares[] = { 15, 15, 9, 11, 8, 15, 9, 8, 8 };

} // namespace

void MainWindow::initWidgets()
{
    statusLabel = new QLabel(QString());
    statusLabel->setMinimumWidth(300);
    // Device texts end up here: never let them be read as markup.
    statusLabel->setTextFormat(Qt::PlainText);

    progressBar = new QProgressBar();
    progressBar->setMinimum(0);
    progressBar->setMaximum(100);
    progressBar->setFixedHeight(20);
    progressBar->setFixedWidth(200);
    progressBar->setTextVisible(false);

    ui->statusbar->addWidget(statusLabel, 0);
    ui->statusbar->addPermanentWidget(progressBar, 0);

    const QSize iconSize(24, 24);
    ui->pushButtonSearch->setIconSize(iconSize);
    ui->pushButtonSearch->setIcon(QIcon(QStringLiteral(":/images/search.png")));
    ui->pushButtonAddDevice->setIconSize(iconSize);
    ui->pushButtonAddDevice->setIcon(QIcon(QStringLiteral(":/images/add.png")));
    ui->pushButtonConfigNet->setIconSize(iconSize);
    ui->pushButtonConfigNet->setIcon(QIcon(QStringLiteral(":/images/setting.png")));

    rowMarker = QIcon(QStringLiteral(":/images/green.png"));

    ui->tableWidgetDevList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    adjustColumnWidths();
    nameFormFields();
}

void MainWindow::adjustColumnWidths()
{
    QTableWidget *table = ui->tableWidgetDevList;
    const QHeaderView *header = table->horizontalHeader();
    const int width = table->width();
    // Every new row comes here; a column already at its width would still cost a style query.
    const int minimum = header->minimumSectionSize();
    const int maximum = header->maximumSectionSize();
    for (int column = 0; column < 9; ++column) {
        const int columnWidth = columnShares[column] * width / 100;
        if (table->columnWidth(column) == columnWidth && columnWidth >= minimum && columnWidth <= maximum
            && !header->isSectionHidden(column))
            continue;
        table->setColumnWidth(column, columnWidth);
    }
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Resize:
        adjustColumnWidths();
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease: {
        QTableWidget *table = ui->tableWidgetDevList;
        const QPoint pos = static_cast<QMouseEvent *>(event)->pos();
        const QModelIndex index = table->indexAt(pos);
        if (!table->item(index.row(), index.column()) && table->underMouse()) {
            table->setCurrentItem(nullptr);
            clearDeviceForm();
        }
        break;
    }
    default:
        break;
    }
    // Never consume: the viewport and the window handle the event as usual.
    return QObject::eventFilter(watched, event);
}

void MainWindow::clearDeviceForm()
{
    ui->lineEditSipAccount->setText(QString());
    ui->lineEditDevName->setText(QString());
    ui->lineEditMACAddr->setText(QString());
    ui->widgetIPAddr->clear();
    ui->widgetSubnetMask->clear();
    ui->widgetGateway->clear();
    ui->spinBoxHttpPort->setValue(0);
    ui->checkBoxDhcp->setChecked(false);
    ui->spinBoxSipPort->setValue(0);
    // The editors' clear() moves the focus into each of them in turn.
    ui->tableWidgetDevList->setFocus(Qt::OtherFocusReason);
}

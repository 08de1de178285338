#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "audiodevice.h"
#include "searchcycle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QUdpSocket>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    ui->pushButtonAddDevice->setVisible(false);
    initWidgets();
    initSockets();

    installEventFilter(this);
    ui->tableWidgetDevList->viewport()->installEventFilter(this);

    // The first widths come from the table before layout; correct them once shown.
    QTimer::singleShot(50, this, &MainWindow::adjustColumnWidths);
    searchCount = 0;

    searchTimer = new QTimer(this);
    searchTimer->setInterval(discovery::searchTickMs);
    searchTimer->setSingleShot(false);
    // A coarse timer may fire 5% early; requests should leave 500 ms apart.
    searchTimer->setTimerType(Qt::PreciseTimer);
    connect(searchTimer, &QTimer::timeout, this, [this] { searchTick(); });

    const QString appDir = QFileInfo(QCoreApplication::applicationFilePath()).absoluteDir().absolutePath();
    savedDevices.load(appDir + QLatin1String("/devlist.json"));
}

MainWindow::~MainWindow()
{
    // Sockets die with the base class after the status bar is gone; a state
    // change they report then must not reach this half-destroyed window.
    for (QUdpSocket *socket : qAsConst(udpSockets))
        socket->disconnect(this);
    clearDeviceTable();
    delete ui;
}

void MainWindow::on_pushButtonAddDevice_clicked() { }

#pragma once

#include "saveddevicelist.h"

#include <QAbstractSocket>
#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QSet>
#include <QString>

class AudioDevice;
class NetworkConfig;
class QEvent;
class QJsonObject;
class QLabel;
class QProgressBar;
class QTableWidgetItem;
class QTimer;
class QUdpSocket;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Message handling, reachable from the datagram path and from tests.
    int parseSearchResponse(const QJsonObject &object, AudioDevice *device);
    void parseResponse(const QString &text);
    void addDeviceRow(const AudioDevice &device);
    bool sendSearchRequest();
    void sendConfigNetRequest(const NetworkConfig &config);

    static QByteArray searchRequestBytes();
    static QByteArray configNetRequestBytes(const NetworkConfig &config);
    static QString deviceStatusText(int status);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void onSocketStateChange(QAbstractSocket::SocketState socketState);
    void onSocketReadyRead();
    void on_pushButtonSearch_clicked();
    void on_pushButtonAddDevice_clicked();
    void on_pushButtonConfigNet_clicked();
    void on_tableWidgetDevList_itemActivated(QTableWidgetItem *item);
    void on_tableWidgetDevList_itemClicked(QTableWidgetItem *item);
    void on_checkBoxDhcp_stateChanged(int arg1);

private:
    void initWidgets();
    void nameFormFields();
    void initSockets();
    void adjustColumnWidths();
    void clearDeviceForm();
    void fillDeviceForm();
    void searchTick();
    void clearDeviceTable();
    void parseConfigNetResponse(const QJsonObject &object);
    void writeToAllSockets(const QByteArray &payload);
    AudioDevice *currentDevice() const;
    void setAddressEditorsEnabled(bool enabled);

    Ui::MainWindow *ui;
    QList<QUdpSocket *> udpSockets;
    QLabel *statusLabel = nullptr;
    QProgressBar *progressBar = nullptr;
    QTimer *searchTimer = nullptr;
    int searchCount = 0;
    SavedDeviceList savedDevices;

    // MAC texts of the rows in the table, so the duplicate test does not scan every row.
    QSet<QString> listedMacs;
    // Loaded once: every row shows it.
    QIcon rowMarker;
};

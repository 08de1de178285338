#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "audiodevice.h"

#include <QDebug>
#include <QDesktopServices>
#include <QHostAddress>
#include <QLabel>
#include <QUrl>

namespace {

// Only an address in its plain dotted-quad form may reach the browser, so a
// device's text can never pick the site (user-info, a path, a host name).
bool isDottedQuad(const QString &text)
{
    QHostAddress address;
    return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv4Protocol
        && address.toString() == text;
}

} // namespace

void MainWindow::nameFormFields()
{
    // Without a name of its own a field is read out with the group box's title.
    const auto labels = ui->groupBox->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
    for (const QLabel *label : labels) {
        QWidget *field = label->buddy();
        if (!field)
            continue;
        QString name = label->text();
        if (name.endsWith(QLatin1Char(':')))
            name.chop(1);
        if (auto *editor = qobject_cast<IPAddress *>(field))
            editor->setAccessibleNames(name);
        else
            field->setAccessibleName(name);
    }
}

AudioDevice *MainWindow::currentDevice() const
{
    const QTableWidget *table = ui->tableWidgetDevList;
    const QTableWidgetItem *item = table->item(table->currentRow(), 0);
    if (!item)
        return nullptr;
    return static_cast<AudioDevice *>(qvariant_cast<void *>(item->data(Qt::UserRole)));
}

void MainWindow::on_tableWidgetDevList_itemClicked(QTableWidgetItem *)
{
    fillDeviceForm();
}

void MainWindow::fillDeviceForm()
{
    const AudioDevice *device = currentDevice();
    if (!device)
        return;
    ui->lineEditSipAccount->setText(device->sipAccount);
    ui->spinBoxSipPort->setValue(device->sipPort);
    ui->lineEditDevName->setText(device->displayName);
    ui->lineEditMACAddr->setText(device->macAddr);
    ui->widgetIPAddr->setIP(device->ipAddr);
    ui->widgetSubnetMask->setIP(device->subnetMask);
    ui->widgetGateway->setIP(device->gateway);
    ui->spinBoxHttpPort->setValue(device->httpPort);
    ui->checkBoxDhcp->setChecked(device->dhcp);
    // Again, for when the box kept its state and so sent no signal.
    setAddressEditorsEnabled(!ui->checkBoxDhcp->isChecked());
    // Also undoes the focus moves of the editors' auto-advance.
    ui->tableWidgetDevList->setFocus(Qt::OtherFocusReason);
}

void MainWindow::on_checkBoxDhcp_stateChanged(int)
{
    setAddressEditorsEnabled(!ui->checkBoxDhcp->isChecked());
}

void MainWindow::setAddressEditorsEnabled(bool enabled)
{
    ui->widgetIPAddr->setEnabled(enabled);
    ui->widgetSubnetMask->setEnabled(enabled);
    ui->widgetGateway->setEnabled(enabled);
}

void MainWindow::on_tableWidgetDevList_itemActivated(QTableWidgetItem *)
{
    const AudioDevice *device = currentDevice();
    if (!device)
        return;
    bool opened = false;
    if (isDottedQuad(device->ipAddr) && device->httpPort >= 0 && device->httpPort <= 65535) {
        QUrl url;
        url.setScheme(QStringLiteral("http"));
        url.setHost(device->ipAddr);
        if (device->httpPort != 80)
            url.setPort(device->httpPort);
        opened = QDesktopServices::openUrl(url);
    }
    if (opened)
        qDebug() << "成功打开网页链接";
    else
        qDebug() << "打开网页链接失败";
}

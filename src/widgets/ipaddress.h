#ifndef VARNITT_IPADDRESS_H
#define VARNITT_IPADDRESS_H

#include <QString>
#include <QWidget>

class QEvent;
class QLabel;
class QLineEdit;

// IPv4 address editor: four octet fields with fixed dots, validated as typed.
class IPAddress : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString ip READ getIP WRITE setIP)

public:
    explicit IPAddress(QWidget *parent = nullptr);
    ~IPAddress() override;

    QString getIP() const;

    // Names the editor and each field for screen readers: "IP Address, octet 1 of 4".
    void setAccessibleNames(const QString &editorName);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    void setIP(const QString &ip);
    void clear();
    void setBgColor(const QString &bgColor);
    void setBorderColor(const QString &borderColor);
    void setBorderRadius(int borderRadius);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void textChanged(const QString &text);

private:
    QString frameStyleSheet() const;

    QLabel *labDot1;
    QLabel *labDot2;
    QLabel *labDot3;
    QLineEdit *txtIP1;
    QLineEdit *txtIP2;
    QLineEdit *txtIP3;
    QLineEdit *txtIP4;

    QString ip;
    QString bgColor;
    QString borderColor;
    int borderRadius;
};

#endif // VARNITT_IPADDRESS_H

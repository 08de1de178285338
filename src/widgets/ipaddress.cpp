#include "ipaddress.h"

#include <QBoxLayout>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegExp>
#include <QRegExpValidator>

IPAddress::IPAddress(QWidget *parent)
    : QWidget(parent),
      bgColor(QStringLiteral("#FFFFFF")),
      borderColor(QStringLiteral("#A6B5B8")),
      borderRadius(3)
{
    // Dots and fields are created bare; the frame's layout adopts them below.
    const auto makeDot = [] {
        auto *dot = new QLabel;
        dot->setAlignment(Qt::AlignCenter);
        dot->setText(QStringLiteral("."));
        return dot;
    };
    labDot1 = makeDot();
    labDot2 = makeDot();
    labDot3 = makeDot();

    const auto makeField = [this](const QString &name) {
        auto *field = new QLineEdit;
        // The object names are what the style sheet's outer-corner rules select on.
        field->setObjectName(name);
        field->setAlignment(Qt::AlignCenter);
        field->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        connect(field, &QLineEdit::textChanged, this, &IPAddress::textChanged);
        return field;
    };
    txtIP1 = makeField(QStringLiteral("txtIP1"));
    txtIP2 = makeField(QStringLiteral("txtIP2"));
    txtIP3 = makeField(QStringLiteral("txtIP3"));
    txtIP4 = makeField(QStringLiteral("txtIP4"));

    // 0..255 in one to three digits; the pattern itself rules out a fourth digit.
    auto *validator
        = new QRegExpValidator(QRegExp(QStringLiteral("(2[0-5]{2}|2[0-4][0-9]|1?[0-9]{1,2})")), this);
    txtIP1->setValidator(validator);
    txtIP2->setValidator(validator);
    txtIP3->setValidator(validator);
    txtIP4->setValidator(validator);

    txtIP1->installEventFilter(this);
    txtIP2->installEventFilter(this);
    txtIP3->installEventFilter(this);
    txtIP4->installEventFilter(this);

    auto *frame = new QFrame;
    frame->setObjectName(QStringLiteral("frameIP"));
    // Set on the frame only, so the fields and dots inherit it as its children.
    frame->setStyleSheet(frameStyleSheet());

    auto *outerLayout = new QVBoxLayout(this);
    outerLayout->setContentsMargins(0, 0, 0, 0);
    outerLayout->setSpacing(0);
    outerLayout->addWidget(frame);

    // Adding the fields in this order also makes the tab order run left to right.
    auto *fieldLayout = new QHBoxLayout(frame);
    fieldLayout->setContentsMargins(0, 0, 0, 0);
    fieldLayout->setSpacing(0);
    fieldLayout->addWidget(txtIP1);
    fieldLayout->addWidget(labDot1);
    fieldLayout->addWidget(txtIP2);
    fieldLayout->addWidget(labDot2);
    fieldLayout->addWidget(txtIP3);
    fieldLayout->addWidget(labDot3);
    fieldLayout->addWidget(txtIP4);
}

IPAddress::~IPAddress() = default;

QString IPAddress::frameStyleSheet() const
{
    const QString radius = QString::number(borderRadius);
    return QStringLiteral("QFrame#frameIP{border:1px solid %1;border-radius:%2px;}").arg(borderColor, radius)
        + QStringLiteral("QLabel{min-width:15px;background-color:%1;}").arg(bgColor)
        + QStringLiteral("QLineEdit{background-color:%1;border:none;}").arg(bgColor)
        + QStringLiteral("QLineEdit#txtIP1{border-top-left-radius:%1px;"
                         "border-bottom-left-radius:%1px;}")
              .arg(radius)
        + QStringLiteral("QLineEdit#txtIP4{border-top-right-radius:%1px;"
                         "border-bottom-right-radius:%1px;}")
              .arg(radius);
}

bool IPAddress::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress
        && (watched == txtIP1 || watched == txtIP2 || watched == txtIP3 || watched == txtIP4)) {
        const auto *keyEvent = static_cast<QKeyEvent *>(event);
        // The validator refuses the dot itself, so it only ever moves the focus.
        if (keyEvent->text() == QLatin1String(".")) {
            focusNextChild();
        }
        // Leave before the field is (or becomes) empty; the Backspace still reaches it.
        if (keyEvent->key() == Qt::Key_Backspace && static_cast<QLineEdit *>(watched)->text().size() <= 1) {
            focusNextPrevChild(false);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void IPAddress::textChanged(const QString &text)
{
    // Only a complete three-digit octet advances; 010 from setIP does not.
    if (text.size() == 3) {
        const int value = text.toInt();
        if (value >= 100 && value <= 255) {
            focusNextChild();
        }
    }
    ip = QStringLiteral("%1.%2.%3.%4").arg(txtIP1->text(), txtIP2->text(), txtIP3->text(), txtIP4->text());
}

void IPAddress::setIP(const QString &ip)
{
    // ASCII digits only: \d would also take other scripts' digits, which a device's text may carry.
    QRegExp dottedQuad(QStringLiteral(
        R"re(((2[0-4][0-9]|25[0-5]|[01]?[0-9][0-9]?)\.){3}(2[0-4][0-9]|25[0-5]|[01]?[0-9][0-9]?))re"));
    if (!dottedQuad.exactMatch(ip) || ip == this->ip) {
        return;
    }
    this->ip = ip;
    const QStringList octets = ip.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    txtIP1->setText(octets.at(0));
    txtIP2->setText(octets.at(1));
    txtIP3->setText(octets.at(2));
    txtIP4->setText(octets.at(3));
}

QString IPAddress::getIP() const
{
    return ip;
}

void IPAddress::clear()
{
    txtIP1->clear();
    txtIP2->clear();
    txtIP3->clear();
    txtIP4->clear();
    txtIP1->setFocus(Qt::OtherFocusReason);
}

void IPAddress::setAccessibleNames(const QString &editorName)
{
    setAccessibleName(editorName);
    QLineEdit *const fields[] = { txtIP1, txtIP2, txtIP3, txtIP4 };
    for (int i = 0; i < 4; ++i)
        fields[i]->setAccessibleName(QStringLiteral("%1, octet %2 of 4").arg(editorName).arg(i + 1));
}

void IPAddress::setBgColor(const QString &bgColor)
{
    if (this->bgColor != bgColor) {
        this->bgColor = bgColor;
        // Restyle at once so a later colour change is visible, not only the defaults.
        findChild<QFrame *>(QStringLiteral("frameIP"), Qt::FindDirectChildrenOnly)
            ->setStyleSheet(frameStyleSheet());
    }
}

void IPAddress::setBorderColor(const QString &borderColor)
{
    if (this->borderColor != borderColor) {
        this->borderColor = borderColor;
        findChild<QFrame *>(QStringLiteral("frameIP"), Qt::FindDirectChildrenOnly)
            ->setStyleSheet(frameStyleSheet());
    }
}

void IPAddress::setBorderRadius(int borderRadius)
{
    if (this->borderRadius != borderRadius) {
        this->borderRadius = borderRadius;
        findChild<QFrame *>(QStringLiteral("frameIP"), Qt::FindDirectChildrenOnly)
            ->setStyleSheet(frameStyleSheet());
    }
}

QSize IPAddress::sizeHint() const
{
    return QSize(250, 20);
}

QSize IPAddress::minimumSizeHint() const
{
    return QSize(30, 10);
}

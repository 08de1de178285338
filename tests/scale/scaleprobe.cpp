// Loaded into the real program with "-plugin varnittprobe:FOLDER": once the main window is
// shown and settled, it fills the form with its widest values and writes FOLDER/report.json,
// what each text needs and has, by the program's own fonts and style, and where it lies on
// the screen in device pixels, for check_scale.py to crop and read.
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGenericPlugin>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOption>
#include <QTableWidget>
#include <QTimer>
#include <QWindow>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const char *const addressEditors[] = { "widgetIPAddr", "widgetSubnetMask", "widgetGateway" };

QJsonArray rectArray(const QRect &r)
{
    return { r.x(), r.y(), r.width(), r.height() };
}

class Probe : public QObject {
public:
    explicit Probe(const QString &folder) : folder(folder)
    {
        connect(&poll, &QTimer::timeout, this, &Probe::tick);
        poll.start(200);
    }

private:
    QMainWindow *mainWindow() const
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *main = qobject_cast<QMainWindow *>(w); main && main->isVisible())
                return main;
        }
        return nullptr;
    }

    // The window counts as settled once it is exposed and two polls in a row see the same
    // geometry and column widths (the table sets its widths after the first layout).
    QString state(QMainWindow *w) const
    {
        QString s = QStringLiteral("%1 %2 %3 %4").arg(w->x()).arg(w->y()).arg(w->width()).arg(w->height());
        if (auto *table = w->findChild<QTableWidget *>())
            for (int c = 0; c < table->columnCount(); ++c)
                s += QLatin1Char(' ') + QString::number(table->columnWidth(c));
        return s;
    }

    void tick()
    {
        QMainWindow *w = mainWindow();
        if (!w || !w->windowHandle() || !w->windowHandle()->isExposed())
            return;
        const QString now = state(w);
        if (now != lastState) {
            lastState = now;
            return;
        }
        if (!filled) {
            fill(w);
            filled = true;
            lastState.clear();
            return;
        }
        poll.stop();
        w->repaint();
        report(w);
    }

    // The widest values the form can show.
    static void fill(QMainWindow *w)
    {
        for (const char *name : addressEditors)
            if (QWidget *editor = w->findChild<QWidget *>(QLatin1String(name)))
                editor->setProperty("ip", QStringLiteral("255.255.255.255"));
        for (QSpinBox *spin : w->findChildren<QSpinBox *>())
            spin->setValue(spin->maximum());
        // The editors' auto-advance leaves a field focused with its text selected; as after a
        // row click, the table takes the focus and no text stays highlighted.
        for (QLineEdit *edit : w->findChildren<QLineEdit *>())
            edit->deselect();
        if (auto *table = w->findChild<QTableWidget *>())
            table->setFocus(Qt::OtherFocusReason);
    }

    // A device-pixel rectangle on the screen for a widget's logical rectangle.
    QRect onScreen(const QWidget *widget, const QRect &local) const
    {
        const qreal f = widget->devicePixelRatioF();
        const QPoint topLeft = widget->mapToGlobal(local.topLeft());
        return QRect(qRound(topLeft.x() * f), qRound(topLeft.y() * f), qRound(local.width() * f),
            qRound(local.height() * f));
    }

    void add(const QWidget *widget, const QString &name, const QString &kind, const QString &text, int need,
        const QRect &have, const QRect &crop)
    {
        const QFontMetrics fm = widget->fontMetrics();
        items.append(QJsonObject { { "name", name }, { "kind", kind }, { "text", text },
            { "needWidth", need }, { "haveWidth", have.width() }, { "needHeight", fm.height() },
            { "haveHeight", have.height() }, { "crop", rectArray(onScreen(widget, crop)) } });
    }

    void addLabel(const QLabel *label)
    {
        const QRect have = label->contentsRect().adjusted(
            label->margin() + qMax(label->indent(), 0), label->margin(), -label->margin(), -label->margin());
        add(label, label->objectName(), "label", label->text(),
            label->fontMetrics().horizontalAdvance(label->text()), have, label->rect());
    }

    void addButton(const QPushButton *button)
    {
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = button->text();
        opt.icon = button->icon();
        opt.iconSize = button->iconSize();
        const QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
        const int textWidth = button->fontMetrics().horizontalAdvance(opt.text);
        const int iconWidth = opt.icon.isNull() ? 0 : opt.iconSize.width() + 4;
        // The text's own part of the button for reading: the style centres icon and text as
        // one, 4 pixels apart; 2 pixels to spare on the left.
        const int textLeft = qMax(
            contents.left(), contents.x() + (contents.width() - iconWidth - textWidth) / 2 + iconWidth - 2);
        const QRect crop(textLeft, contents.top(), contents.right() - textLeft + 1, contents.height());
        add(button, button->objectName(), "button", opt.text, iconWidth + textWidth, contents, crop);
    }

    void addCheckBox(const QCheckBox *box)
    {
        QStyleOptionButton opt;
        opt.initFrom(box);
        opt.text = box->text();
        const QRect contents = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, box);
        add(box, box->objectName(), "checkbox", opt.text, box->fontMetrics().horizontalAdvance(opt.text),
            contents, contents);
    }

    void addHeader(const QTableWidget *table)
    {
        const QHeaderView *header = table->horizontalHeader();
        for (int c = 0; c < table->columnCount(); ++c) {
            QStyleOptionHeader opt;
            opt.initFrom(header);
            opt.section = c;
            opt.orientation = Qt::Horizontal;
            opt.text = table->horizontalHeaderItem(c)->text();
            opt.textAlignment = header->defaultAlignment();
            opt.rect = QRect(header->sectionViewportPosition(c), 0, header->sectionSize(c), header->height());
            const QRect label = header->style()->subElementRect(QStyle::SE_HeaderLabel, &opt, header);
            // Read inside the section's borders, which tesseract takes for letters.
            add(header, QStringLiteral("heading %1").arg(c + 1), "heading", opt.text,
                header->fontMetrics().horizontalAdvance(opt.text), label, label);
        }
    }

    // A line edit's text area: its contents less the frame, text margins and the 2-pixel
    // margin QLineEdit keeps on either side.
    void addLineEdit(const QLineEdit *edit, const QString &name)
    {
        QStyleOptionFrame opt;
        opt.initFrom(edit);
        opt.lineWidth
            = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
        QRect area = edit->style()->subElementRect(QStyle::SE_LineEditContents, &opt, edit);
        area = area.marginsRemoved(edit->textMargins()).adjusted(2, 0, -2, 0);
        // Read inside the frame, which tesseract takes for letters.
        add(edit, name, "digits", edit->text(), edit->fontMetrics().horizontalAdvance(edit->text()), area,
            area);
    }

    void report(QMainWindow *w)
    {
        QWidget *form = w->findChild<QWidget *>(QStringLiteral("groupBox"));
        if (form) {
            for (const QLabel *label : form->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly))
                addLabel(label);
            for (const QCheckBox *box : form->findChildren<QCheckBox *>())
                addCheckBox(box);
            for (const char *editor : addressEditors) {
                const QWidget *e = form->findChild<QWidget *>(QLatin1String(editor));
                for (int i = 1; e && i <= 4; ++i) {
                    if (const auto *field = e->findChild<QLineEdit *>(QStringLiteral("txtIP%1").arg(i)))
                        addLineEdit(field, QStringLiteral("%1/txtIP%2").arg(QLatin1String(editor)).arg(i));
                }
            }
            for (const QSpinBox *spin : form->findChildren<QSpinBox *>()) {
                if (const auto *edit = spin->findChild<QLineEdit *>())
                    addLineEdit(edit, spin->objectName());
            }
        }
        for (const QPushButton *button : w->findChildren<QPushButton *>()) {
            if (button->isVisible())
                addButton(button);
        }
        if (const auto *table = w->findChild<QTableWidget *>())
            addHeader(table);

        const QScreen *screen = w->windowHandle()->screen();
        QJsonObject out { { "items", items }, { "size", QJsonArray { w->width(), w->height() } },
            { "minimumSize", QJsonArray { w->minimumWidth(), w->minimumHeight() } },
            { "frame", rectArray(w->frameGeometry()) },
            { "available", rectArray(screen->availableGeometry()) },
            { "screen", rectArray(screen->geometry()) }, { "devicePixelRatio", w->devicePixelRatioF() },
            { "logicalDpi", screen->logicalDotsPerInch() }, { "font", QApplication::font().toString() },
            { "platform", QGuiApplication::platformName() } };
#ifdef Q_OS_WIN
        // What the process ended up with: per-monitor is 2 (PROCESS_PER_MONITOR_DPI_AWARE).
        using GetAwareness = HRESULT(WINAPI *)(HANDLE, int *);
        if (HMODULE shcore = LoadLibraryW(L"shcore.dll")) {
            int awareness = -1;
            if (auto get = reinterpret_cast<GetAwareness>(
                    reinterpret_cast<void (*)()>(GetProcAddress(shcore, "GetProcessDpiAwareness")));
                get && SUCCEEDED(get(nullptr, &awareness)))
                out.insert("dpiAwareness", awareness);
        }
#endif
        QDir().mkpath(folder);
        QFile file(folder + QLatin1String("/report.json.part"));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("varnittprobe: cannot write %s", qPrintable(file.fileName()));
        file.write(QJsonDocument(out).toJson());
        file.close();
        // Whole or not at all: the harness polls for the final name.
        QFile::remove(folder + QLatin1String("/report.json"));
        file.rename(folder + QLatin1String("/report.json"));
    }

    QString folder;
    QTimer poll;
    QString lastState;
    bool filled = false;
    QJsonArray items;
};

} // namespace

class ScaleProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "scaleprobe.json")
public:
    QObject *create(const QString &key, const QString &reportFolder) override
    {
        if (key.compare(QLatin1String("varnittprobe"), Qt::CaseInsensitive) != 0)
            return nullptr;
        return new Probe(reportFolder);
    }
};

#include "scaleprobe.moc"

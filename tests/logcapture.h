#pragma once

#include <QStringList>
#include <QtGlobal>

// Collects the debug lines written while it lives, exactly as the message handler gets them.
class LogCapture {
public:
    LogCapture() : previous(qInstallMessageHandler(&LogCapture::collect))
    {
        collected().clear();
    }
    ~LogCapture()
    {
        qInstallMessageHandler(previous);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const
    {
        return collected();
    }

private:
    static QStringList &collected()
    {
        static QStringList lines;
        return lines;
    }
    static void collect(QtMsgType, const QMessageLogContext &, const QString &text)
    {
        collected().append(text);
    }
    QtMessageHandler previous;
};

#pragma once

#include <QHostAddress>
#include <QObject>

#include <queue>
#include <vector>

class QElapsedTimer;
class QTimer;

// Holds every reply still to be sent, ordered by due time, behind one timer:
// ten thousand devices answering must not mean ten thousand timers.
class ReplyScheduler : public QObject {
    Q_OBJECT

public:
    explicit ReplyScheduler(const QElapsedTimer &clock, QObject *parent = nullptr);

    // Emits due(item, address, port) once the clock reaches dueMs.
    void schedule(qint64 dueMs, int item, const QHostAddress &address, quint16 port);
    int pending() const
    {
        return static_cast<int>(m_queue.size());
    }

signals:
    void due(int item, const QHostAddress &address, quint16 port);

private:
    struct Entry {
        qint64 dueMs;
        quint64 order;
        int item;
        QHostAddress address;
        quint16 port;
    };
    struct Later {
        bool operator()(const Entry &a, const Entry &b) const
        {
            return a.dueMs != b.dueMs ? a.dueMs > b.dueMs : a.order > b.order;
        }
    };

    void dispatch();
    void arm();

    const QElapsedTimer &m_clock;
    QTimer *m_timer;
    std::priority_queue<Entry, std::vector<Entry>, Later> m_queue;
    quint64 m_order = 0;
    qint64 m_armedFor = -1;
};

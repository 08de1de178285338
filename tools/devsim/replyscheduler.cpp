#include "replyscheduler.h"

#include <QElapsedTimer>
#include <QTimer>

namespace {

// Replies sent per timer event, so a large burst still lets requests in between.
constexpr int batchSize = 500;

} // namespace

ReplyScheduler::ReplyScheduler(const QElapsedTimer &clock, QObject *parent)
    : QObject(parent), m_clock(clock), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &ReplyScheduler::dispatch);
}

void ReplyScheduler::schedule(qint64 dueMs, int item, const QHostAddress &address, quint16 port)
{
    m_queue.push(Entry { dueMs, m_order++, item, address, port });
    if (m_armedFor < 0 || dueMs < m_armedFor)
        arm();
}

void ReplyScheduler::dispatch()
{
    m_armedFor = -1;
    for (int sent = 0; sent < batchSize && !m_queue.empty(); ++sent) {
        if (m_queue.top().dueMs > m_clock.elapsed())
            break;
        const Entry entry = m_queue.top();
        m_queue.pop();
        emit due(entry.item, entry.address, entry.port);
    }
    arm();
}

void ReplyScheduler::arm()
{
    if (m_queue.empty()) {
        m_timer->stop();
        m_armedFor = -1;
        return;
    }
    m_armedFor = m_queue.top().dueMs;
    m_timer->start(static_cast<int>(qMax<qint64>(0, m_armedFor - m_clock.elapsed())));
}

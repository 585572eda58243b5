#include "TimerService.h"

#include <QTimer>

namespace snapmend {

TimerService::TimerService(Handler handler, QObject* parent) : QObject(parent), m_handler(std::move(handler)) {}

void TimerService::SetTimer(int id, int ms)
{
    QTimer*& timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, id] { m_handler(id); });
    }
    timer->start(ms);
}

void TimerService::KillTimer(int id)
{
    auto it = m_timers.find(id);
    if (it != m_timers.end())
        it->second->stop();
}

bool TimerService::IsActive(int id) const
{
    auto it = m_timers.find(id);
    return it != m_timers.end() && it->second->isActive();
}

int TimerService::Interval(int id) const
{
    return IsActive(id) ? m_timers.at(id)->interval() : -1;
}

}  // namespace snapmend

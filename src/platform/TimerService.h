#pragma once
#include <QObject>
#include <functional>
#include <map>

class QTimer;

namespace snapmend {

// Window timers keyed by id: a timer repeats every `ms` until killed, and each
// expiry calls the handler with the id. Setting an active id restarts it.
class TimerService : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(int id)>;

    explicit TimerService(Handler handler, QObject* parent = nullptr);

    void SetTimer(int id, int ms);
    void KillTimer(int id);
    bool IsActive(int id) const;
    // Period of an active timer, -1 when it is not running.
    int Interval(int id) const;

private:
    Handler m_handler;
    std::map<int, QTimer*> m_timers;
};

}  // namespace snapmend

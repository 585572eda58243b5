#pragma once
#include <QObject>
#include <QString>

class QLocalServer;

namespace snapmend {

// One instance per user. The first instance holds an exclusive lock named
// after `lockName` for its whole life and listens on a local socket of the
// same name; a later instance asks it to bring forward its top-level window
// captioned exactly `caption`, and then ends. Lock and socket live in the
// running user's private runtime folder, never in a shared one.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role { First, Second, Unprotected };

    SingleInstance(const QString& lockName, const QString& caption, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Decides this process's role. For Second, the first instance has already
    // been asked to show its window (or could not be reached).
    Role Claim();

    // The per-user socket and lock file names (without folder) derived from the lock name.
    static QString ServerName(const QString& lockName);

private:
    void OnConnection();
    static void BringForward(const QString& caption);

    QString m_lockName;
    QString m_caption;
    int m_lockFd = -1;
    QLocalServer* m_server = nullptr;
};

}  // namespace snapmend

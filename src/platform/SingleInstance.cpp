#include "SingleInstance.h"

#include <QApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include "Ownership.h"
#include "Paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

namespace snapmend {
namespace {

constexpr int kConnectTimeoutMs = 2000;

// The running user's own 0700 folder: nobody else can plant, lock or link a name there.
QString PrivateFolder()
{
    return PrivateRuntimeFolder(UserDataFolder());
}

}  // namespace

SingleInstance::SingleInstance(const QString& lockName, const QString& caption, QObject* parent)
    : QObject(parent), m_lockName(lockName), m_caption(caption)
{
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString SingleInstance::ServerName(const QString& lockName)
{
    QString name = lockName;
    name.replace(QLatin1Char(' '), QLatin1Char('_'));
    return name + QLatin1Char('-') + QString::number(getuid());
}

SingleInstance::Role SingleInstance::Claim()
{
    const QString folder = PrivateFolder();
    if (folder.isEmpty())
        return Role::Unprotected;
    const QString serverName = JoinPath(folder, ServerName(m_lockName));
    const QByteArray lockPath = QFile::encodeName(serverName + QLatin1String(".lock"));
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat info {};
    if (m_lockFd >= 0 && (::fstat(m_lockFd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid())) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
    if (m_lockFd < 0)
        return Role::Unprotected;

    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0) {
        // The lock dies with the process, so a socket left by a crash is stale.
        QLocalServer::removeServer(serverName);
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::OnConnection);
        m_server->listen(serverName);
        return Role::First;
    }

    ::close(m_lockFd);
    m_lockFd = -1;
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (socket.waitForConnected(kConnectTimeoutMs)) {
        socket.write(m_caption.toUtf8() + '\n');
        socket.waitForBytesWritten(kConnectTimeoutMs);
        socket.waitForReadyRead(kConnectTimeoutMs);
        socket.disconnectFromServer();
    }
    return Role::Second;
}

void SingleInstance::OnConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [socket] {
            if (!socket->canReadLine())
                return;
            const QString caption = QString::fromUtf8(socket->readLine(4096)).chopped(1);
            BringForward(caption);
            socket->write("ok\n");
            socket->flush();
        });
    }
}

void SingleInstance::BringForward(const QString& caption)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isWindow() && widget->windowTitle() == caption) {
            widget->setWindowState((widget->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
            widget->showNormal();
            widget->setFocus();
            widget->raise();
            widget->activateWindow();
            return;
        }
    }
}

}  // namespace snapmend

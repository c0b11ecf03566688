// The single-instance event over QLocalServer (a Unix socket file in the temporary
// folder).
#include "console/kova_single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace
{
const int k_connect_timeout_ms = 2000;
}

CKovaSingleInstance::CKovaSingleInstance(QObject *parent)
    : QObject(parent), m_server(new QLocalServer(this)), m_signalled(false)
{
    connect(m_server, &QLocalServer::newConnection, this, &CKovaSingleInstance::OnNewConnection);
}

CKovaSingleInstance::~CKovaSingleInstance()
{
    m_server->close();
}

CKovaSingleInstance::Result CKovaSingleInstance::Create(const QString &name)
{
    if (m_server->listen(name))
    {
        return CREATED;
    }
    QLocalSocket other;
    other.connectToServer(name);
    if (other.waitForConnected(k_connect_timeout_ms))
    {
        // The connection is the signal; the first console needs nothing more from us.
        other.disconnectFromServer();
        return ALREADY_EXISTS;
    }
    // Nobody answers: the socket of a console that did not end in order.
    QLocalServer::removeServer(name);
    return m_server->listen(name) ? CREATED : FAILED;
}

QString CKovaSingleInstance::ServerPath() const
{
    return m_server->fullServerName();
}

void CKovaSingleInstance::OnNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection())
    {
        socket->abort();
        socket->deleteLater();
        m_signalled.store(true);
    }
}

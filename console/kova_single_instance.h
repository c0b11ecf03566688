// The console's single-instance event "KOVAClient4.0": a local socket of that name in the
// temporary folder (TMPDIR), held by the first console. A second console that finds it
// connects, which sets the first one's event, and ends; the first console's status thread
// tests and resets the event and tells the operator. A socket left by a console that
// crashed answers no one and is taken over.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>

class QLocalServer;

class CKovaSingleInstance : public QObject
{
    Q_OBJECT

  public:
    enum Result
    {
        CREATED,        // this is the first console
        ALREADY_EXISTS, // another console holds the event; it has been set
        FAILED,         // the socket could not be made
    };

    explicit CKovaSingleInstance(QObject *parent = nullptr);
    ~CKovaSingleInstance() override;

    // User-interface thread.
    Result Create(const QString &name);
    // Any thread: true when the event was set since the last call, which resets it.
    bool TestAndReset() { return m_signalled.exchange(false); }
    QString ServerPath() const;

  private:
    void OnNewConnection();

    QLocalServer *m_server;
    std::atomic<bool> m_signalled;
};

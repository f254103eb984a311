#pragma once

#include <QByteArray>
#include <QObject>

#include <chrono>

class QSocketNotifier;

namespace vorlan {

// One running copy per user and port: a second start asks the running copy to bring its window
// forward and ends, instead of failing on the port it cannot have.
//
// The copies meet at a name in the abstract socket namespace, which belongs to the network
// namespace as the port does (the same port in another namespace is another port, and copies
// there are strangers). The kernel frees the name with the process that holds it: a crashed copy
// leaves nothing behind, and claiming the name is one bind, so of two starts at once exactly one
// wins. Anyone on the host may connect to such a name, so both ends check who the other is: the
// holder answers only its own user, and a start that finds the name held by another user runs on
// as if it were alone. A request is one byte; the holder reads no more.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Start {
        First,  // this copy holds the name; it answers later starts once serve() is called
        Raised, // the running copy will bring its window forward: this one ends with 0
        Alone,  // no answer from whoever holds the name, or no name to have: run as before
    };

    // name: instanceName() for this user and port (tests use names of their own).
    explicit SingleInstance(QByteArray name, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Claims the name, or asks its holder to come forward. A holder that is still starting has
    // patience to answer; one that ends meanwhile leaves the name to this copy.
    Start start(std::chrono::milliseconds patience = std::chrono::seconds(10));

    // Answers requests from now on (the window is up); those made before have waited for this.
    void serve();
    // Answers none any more (the window is closing): later starts wait, and claim the name once
    // this copy has ended, instead of being sent off by a copy on its way out.
    void stopServing();

signals:
    void raiseRequested();

private:
    enum class Claim { Won, Held, Impossible };
    enum class Answer { Raised, Stranger, Gone, None };

    Claim claim();
    Answer askHolder(std::chrono::steady_clock::time_point deadline) const;
    void acceptPending();

    QByteArray m_name;
    int m_fd = -1; // the listening socket, while this copy holds the name
    QSocketNotifier *m_notifier = nullptr;
};

// The name for the calling user and this port.
QByteArray instanceName(quint16 port);

} // namespace vorlan

#pragma once

#include "app/mainwindow.h"
#include "roster/memberlist.h"
#include "support/testsupport.h"

#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace vorlan::test {

// Three loopback addresses standing for one network: a broadcast reaches each of them.
extern const QStringList LoopbackSegment;

// Whether a UDP socket could bind address:port right now.
bool canBind(const QString &address, quint16 port);

// A random port from 20000 up that usable() accepts, or 0 when none did in 50 tries. Tests run
// side by side, so no fixed port is safe.
quint16 pickPort(const std::function<bool(quint16)> &usable);

// Complete main windows in one process, each on its own loopback address, sharing one port.
class LoopbackPeers : public ::testing::Test
{
protected:
    void SetUp() override;

    // Whether the fixture may take candidate as its port; by default, when every address of the
    // segment is still free on it.
    virtual bool portIsUsable(quint16 candidate);

    // A window at address on the segment, started from host.ini holding just the user name.
    MainWindow &start(const QString &address, const QString &host, const QString &user,
                      const std::function<void(MainWindow &)> &beforeLoad = {});
    // The same, from host.ini holding the given bytes.
    MainWindow &startWithIni(const QString &address, const QString &host, const QByteArray &ini,
                             const std::function<void(MainWindow &)> &beforeLoad = {});
    // A window from options completed with the fixture's port and clock; beforeLoad runs before
    // Form_Load, whose success is expected.
    MainWindow &launch(MainWindowOptions options, const std::function<void(MainWindow &)> &beforeLoad = {});

    // Types text into the compose box and presses "送信".
    static void type(MainWindow &window, const QString &text);
    static bool shows(const MainWindow &window, const QString &text);
    static int rowOf(const MainWindow &window, const QString &address);
    // The member's cell in the window's list, or "(not listed)".
    static QString cellOf(const MainWindow &window, const QString &address, MemberList::Column column);
    // No message box came up; else what they said.
    ::testing::AssertionResult noMessages() const;

    QTemporaryDir folder;
    quint16 port = 0;
    FakeClock clock;
    QStringList messages;
    std::vector<std::unique_ptr<MainWindow>> windows;
};

} // namespace vorlan::test

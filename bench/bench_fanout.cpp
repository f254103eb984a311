// One typed line goes to every row of the roster, one datagram each. Against the floor of the
// same number of plain sendto calls, measured in the same run.
#include "benchsupport.h"

#include "app/mainwindow.h"
#include "base/codec.h"

#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace vorlan::bench {

namespace {

// Rows on loopback addresses other than the window's own: nothing listens there, so every
// datagram is sent and dropped by the kernel, and nothing leaves the machine.
QString rowAddress(int i)
{
    return QStringLiteral("127.0.%1.%2").arg(1 + i / 250).arg(i % 250 + 1);
}

quint16 freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length);
    ::close(fd);
    return ntohs(local.sin_port);
}

void TypedLineFanOut(benchmark::State &state)
{
    QTemporaryDir folder;
    MainWindowOptions options;
    options.iniPath = folder.filePath(QStringLiteral("Vorlan.ini"));
    options.commandLine = QString::number(freeLoopbackPort());
    options.identity = HostIdentity{QStringLiteral("bench"), QStringLiteral("127.0.0.1")};
    options.bindAddress = QStringLiteral("127.0.0.1");
    options.segment = QStringList{QStringLiteral("127.0.0.1")};
    MainWindow window(options);
    window.setMessagePresenter([](const QString &, QMessageBox::Icon) {});
    if (window.Form_Load() != 0) {
        state.SkipWithError("the window did not start");
        return;
    }
    const int rows = int(state.range(0));
    for (int i = 0; i < rows - 1; ++i)
        window.lvMember()->UpdateMember(QStringLiteral("0"), QStringLiteral("user"),
                                        QStringLiteral("pc"), rowAddress(i), QStringLiteral("09:00:00"));
    for (auto _ : state) {
        window.txtSend()->setPlainText(QStringLiteral("全員に届く一行のメッセージです"));
        window.comEnter_Click();
    }
    state.SetItemsProcessed(state.iterations() * rows);
}

void PlainSendtoLoop(benchmark::State &state)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
    const quint16 port = freeLoopbackPort();
    const int rows = int(state.range(0));
    std::vector<sockaddr_in> targets(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i) {
        targets[size_t(i)].sin_family = AF_INET;
        targets[size_t(i)].sin_port = htons(port);
        inet_pton(AF_INET, rowAddress(i).toLatin1().constData(), &targets[size_t(i)].sin_addr);
    }
    const QByteArray bytes =
        encodeCp932(QStringLiteral("100 0,bench,127.0.0.1,09:00:00,全員に届く一行のメッセージです"));
    for (auto _ : state) {
        for (const sockaddr_in &target : targets)
            ::sendto(fd, bytes.constData(), size_t(bytes.size()), 0,
                     reinterpret_cast<const sockaddr *>(&target), sizeof target);
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations() * rows);
}

} // namespace

void registerFanOutBenchmarks()
{
    for (auto *benchmark : {benchmark::RegisterBenchmark("TypedLineFanOut", TypedLineFanOut),
                            benchmark::RegisterBenchmark("PlainSendtoLoop", PlainSendtoLoop)})
        tuned(benchmark)->Arg(sizes().fanOut)->Unit(benchmark::kMillisecond);
}

} // namespace vorlan::bench

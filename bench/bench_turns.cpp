// Turns of the event loop during a flood: the longest the program's thread spends on one event
// while chat lines arrive at a steady pace from another address, into a window whose view holds
// its full 100,000 lines already (so old lines are cut all along) and into a fresh one. Every
// event the window handles is time a key press or a click waits for.
//
//     vorlan_bench_turns [--rate N] [--seconds S] [--repetitions R] [--view-lines N]
//
// The whole window runs (logging on, alerts, the view shown on the offscreen platform), on
// loopback addresses only. Prints one JSON object: per repetition and side, the longest event in
// thread processor time and in wall-clock time, the 99th percentile of the wall-clock times,
// and the lines sent and logged. The sides alternate, so both see the same moments of a shared
// machine.
#include "app/mainwindow.h"
#include "base/codec.h"
#include "conversation/conversationview.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using namespace vorlan;

namespace {

double seconds(clockid_t clock)
{
    timespec t;
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Times every event delivered from the event loop itself; events sent while one is handled
// belong to it.
class TimedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (!recording || m_depth > 0) {
            ++m_depth;
            const bool result = QApplication::notify(receiver, event);
            --m_depth;
            return result;
        }
        ++m_depth;
        const double cpu = seconds(CLOCK_THREAD_CPUTIME_ID);
        const double wall = seconds(CLOCK_MONOTONIC);
        const int type = event->type();
        const char *what = receiver->metaObject()->className();
        const bool result = QApplication::notify(receiver, event);
        const double took = seconds(CLOCK_THREAD_CPUTIME_ID) - cpu;
        cpuTimes.push_back(took);
        wallTimes.push_back(seconds(CLOCK_MONOTONIC) - wall);
        if (took > worst) {
            worst = took;
            worstWhat = QString::asprintf("%s, event %d", what, type);
        }
        --m_depth;
        return result;
    }

    bool recording = false;
    std::vector<double> cpuTimes, wallTimes;
    double worst = 0;
    QString worstWhat; // the receiver's class and the event type of the longest event

private:
    int m_depth = 0;
};

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

const QString Sender = QStringLiteral("127.0.0.2");

QString chatLine(int n)
{
    const QString body = QStringLiteral("受信試験の行です。流量を測るための日本語と数字が並んでいます。");
    return QStringLiteral("100 0peer,peerhost,%1,10:00:00,").arg(Sender)
           + (QStringLiteral("%1 ").arg(n, 7, 10, QChar(u'0')) + body + body).left(40);
}

// Sends count chat lines from 127.0.0.2 to the port at rate a second, open loop: each
// millisecond as many as are due by then.
void sendPaced(quint16 port, double rate, int count, std::atomic<int> &sent)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.2", &local.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<QByteArray> lines;
    lines.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        lines.push_back(encodeCp932(chatLine(i)));
    const double start = seconds(CLOCK_MONOTONIC);
    timespec tick;
    clock_gettime(CLOCK_MONOTONIC, &tick);
    int n = 0;
    while (n < count) {
        const int due = std::min(count, int((seconds(CLOCK_MONOTONIC) - start) * rate) + 1);
        for (; n < due; ++n)
            ::sendto(fd, lines[size_t(n)].constData(), size_t(lines[size_t(n)].size()), 0,
                     reinterpret_cast<const sockaddr *>(&target), sizeof target);
        sent = n;
        tick.tv_nsec += 1000000;
        if (tick.tv_nsec >= 1000000000) {
            tick.tv_nsec -= 1000000000;
            ++tick.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &tick, nullptr);
    }
    ::close(fd);
}

int loggedLines(const QString &folder)
{
    int count = 0;
    for (const QString &name : QDir(folder).entryList(QDir::Files)) {
        QFile file(folder + u'/' + name);
        if (file.open(QIODevice::ReadOnly))
            count += int(file.readAll().count("->\t"));
    }
    return count;
}

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Round
{
    double worstCpu = 0, worstWall = 0, p99Wall = 0;
    int events = 0, sent = 0, logged = 0;
    QString worstWhat;
};

Round flood(TimedApplication &app, int viewLines, double rate, double duration)
{
    QTemporaryDir folder;
    const QString logs = folder.filePath(QStringLiteral("logs"));
    QDir().mkpath(logs);
    QFile ini(folder.filePath(QStringLiteral("Vorlan.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write("[OPT]\r\nUserName=bench\r\nLogChk=1\r\nLogDir=" + encodeCp932(logs) + "\r\n");
    ini.close();

    const quint16 port = freeLoopbackPort();
    MainWindowOptions options;
    options.iniPath = ini.fileName();
    options.commandLine = QString::number(port);
    options.identity = HostIdentity{QStringLiteral("bench"), QStringLiteral("127.0.0.1")};
    options.bindAddress = QStringLiteral("127.0.0.1");
    options.segment = QStringList{QStringLiteral("127.0.0.1")};
    MainWindow window(options);
    window.setMessagePresenter([](const QString &, QMessageBox::Icon) {});
    window.show();
    if (window.Form_Load() != 0)
        return {};
    // The view fills as a long conversation would have filled it, in turns of a frame's lines.
    for (int i = 0; i < viewLines; ++i) {
        window.ProcessMessage(chatLine(i), Sender);
        if (i % 500 == 499)
            app.processEvents();
    }
    window.rtfHomeMessage()->flushLines();
    settle(500);
    const int before = loggedLines(logs);

    const int count = int(rate * duration);
    std::atomic<int> sent{0};
    app.cpuTimes.clear();
    app.wallTimes.clear();
    app.worst = 0;
    app.recording = true;
    std::thread sender(sendPaced, port, rate, count, std::ref(sent));
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (sent == count)
            loop.quit();
    });
    poll.start();
    loop.exec();
    sender.join();
    settle(300);
    app.recording = false;

    Round round;
    round.events = int(app.cpuTimes.size());
    round.worstCpu = app.cpuTimes.empty() ? 0 : *std::max_element(app.cpuTimes.begin(), app.cpuTimes.end());
    std::vector<double> wall = app.wallTimes;
    std::sort(wall.begin(), wall.end());
    round.worstWall = wall.empty() ? 0 : wall.back();
    round.p99Wall = wall.empty() ? 0 : wall[size_t(double(wall.size() - 1) * 0.99)];
    round.worstWhat = app.worstWhat;
    round.sent = count;
    round.logged = loggedLines(logs) - before;
    return round;
}

QString option(const QStringList &args, const QString &name, const QString &fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform warns of every window raise it cannot do.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    TimedApplication app(argc, argv);
    const QStringList args = app.arguments();
    const double rate = option(args, QStringLiteral("--rate"), QStringLiteral("20000")).toDouble();
    const double duration = option(args, QStringLiteral("--seconds"), QStringLiteral("3")).toDouble();
    const int repetitions = option(args, QStringLiteral("--repetitions"), QStringLiteral("5")).toInt();
    const int viewLines = option(args, QStringLiteral("--view-lines"),
                                 QString::number(ConversationView::MaxLines)).toInt();

    std::printf("{\"rate\": %g, \"seconds\": %g, \"view_lines\": %d, \"rounds\": [", rate, duration, viewLines);
    for (int r = 0; r < repetitions; ++r) {
        for (int side = 0; side < 2; ++side) {
            const bool full = (side + r) % 2 == 0;
            const Round round = flood(app, full ? viewLines : 0, rate, duration);
            std::printf("%s\n  {\"view\": \"%s\", \"worst_cpu\": %.6f, \"worst_wall\": %.6f, \"p99_wall\": %.6f, "
                        "\"events\": %d, \"sent\": %d, \"logged\": %d, \"worst_event\": \"%s\"}",
                        r == 0 && side == 0 ? "" : ",", full ? "full" : "empty", round.worstCpu,
                        round.worstWall, round.p99Wall, round.events, round.sent, round.logged,
                        round.worstWhat.toUtf8().constData());
            std::fflush(stdout);
        }
    }
    std::printf("\n]}\n");
    return 0;
}

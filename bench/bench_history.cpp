// The history search against the disk: generates years of daily log files and times searches
// over them, one search per process so each has its own peak memory. bench/historybench.py
// drives it and compares it with grep over the same files.
//
//   vorlan_bench_history generate FOLDER DAYS BYTES_PER_DAY
//   vorlan_bench_history search FOLDER QUERY [DAYS]      one search, all days or the newest DAYS
//   vorlan_bench_history window FOLDER QUERY DAYS        the window: first result on screen, last
//
// Each prints one line of JSON.
#include "base/clock.h"
#include "base/codec.h"
#include "conversation/conversationview.h"
#include "history/historywindow.h"
#include "history/logfile.h"
#include "history/logsearch.h"
#include "settings/runningsettings.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeView>

#include <cstdio>
#include <cstring>
#include <sys/resource.h>

using namespace vorlan;

namespace {

// The newest generated day; the days go back from it.
const QDate Newest(2026, 12, 6);

class Random
{
public:
    quint64 next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }
    int below(int n) { return int(next() % quint64(n)); }

private:
    quint64 m_state = 0x9E3779B97F4A7C15ull;
};

QList<QByteArray> encoded(const char *const *words, int count)
{
    QList<QByteArray> out;
    for (int i = 0; i < count; ++i)
        out.append(encodeCp932(QString::fromUtf8(words[i])));
    return out;
}

// Conversation as a Japanese office writes it: kanji, kana, half-width kana, ASCII and
// full-width letters mixed. The searched words are rare among them: 議事録, and VPN in four
// widths and cases.
struct Vocabulary
{
    QList<QByteArray> words, names, rare;

    Vocabulary()
    {
        static const char *const w[] = {
            "今日は", "会議", "の", "資料", "を", "確認", "しました", "。", "、", "明日", "サーバー",
            "再起動", "します", "お疲れさまです", "よろしく", "お願いします", "ﾃｽﾄ", "ﾃﾞｰﾀﾍﾞｰｽ", "ログ",
            "送ります", "test", "build", "OK", "ok", "release", "10時", "から", "まで", "ＰＣ", "ファイル",
            "共有", "フォルダ", "に", "置きました", "了解です", "ありがとうございます", "昼", "ご飯", "行きます",
            "メール", "見てください", "修正", "版", "です", "ます", "(^^)", "!", "?", "ｗ", "はい", "いいえ",
            "プリンタ", "が", "動かない", "ネットワーク", "遅い", "ですね", "確認中", "予定", "変更", "連絡",
            "http://intra/wiki", "2.0", "Ｗｉｎｄｏｗｓ", "更新", "ﾊﾟｽﾜｰﾄﾞ", "忘れた", "打ち合わせ", "部長",
        };
        static const char *const n[] = {"太郎", "花子", "次郎", "佐藤", "suzuki", "ﾀﾅｶ", "ＰＣ０１", "yamada"};
        static const char *const r[] = {"議事録", "ＶＰＮ", "VPN", "vpn", "ｖｐｎ"};
        words = encoded(w, int(std::size(w)));
        names = encoded(n, int(std::size(n)));
        rare = encoded(r, int(std::size(r)));
    }
};

class DayWriter
{
public:
    DayWriter(const Vocabulary &vocabulary, Random &random)
        : m_words(vocabulary), m_random(random)
    {
    }

    QByteArray day(const QDate &date, qint64 bytes)
    {
        QByteArray out = "*** " + date.toString("yyyy/MM/dd").toLatin1() + " ***\r\n";
        int seconds = 8 * 3600;
        while (out.size() < bytes) {
            seconds = std::min(seconds + 1 + m_random.below(4), 86399);
            const int kind = m_random.below(100);
            if (kind < 85) {
                out += time(seconds) + ' ' + name() + "->\t" + sentence() + "\r\n";
            } else if (kind < 93) {
                out += time(seconds) + '[' + name() + "]->\t(To:" + name() + ") " + sentence() + "\r\n";
                if (m_random.below(3) == 0) // a peer's line with line breaks in it
                    out += sentence() + "\r\n" + sentence() + "\r\n";
            } else if (kind < 99) {
                out += time(seconds) + '\t' + name() + encodeCp932(QStringLiteral("さんが参加しました。")) + "\r\n";
            } else {
                out += encodeCp932(QStringLiteral("---過去のログ受信 開始 (10.0.0.7より)---")) + "\r\n";
                for (int i = 0; i < 4; ++i)
                    out += time(seconds - 600 + i) + ' ' + name() + "->\t" + sentence() + "\r\n";
                out += "\r\n" + encodeCp932(QStringLiteral("---過去のログ受信 終了 (10.0.0.7より)---")) + "\r\n";
            }
        }
        return out;
    }

private:
    static QByteArray time(int seconds)
    {
        return QTime(0, 0).addSecs(seconds).toString("HH:mm:ss").toLatin1();
    }
    const QByteArray &name() { return m_words.names[m_random.below(int(m_words.names.size()))]; }
    QByteArray sentence()
    {
        QByteArray out;
        const int count = 3 + m_random.below(10);
        for (int i = 0; i < count; ++i) {
            // One word in about 3,000 is a searched one.
            if (m_random.below(3000) == 0)
                out += m_words.rare[m_random.below(int(m_words.rare.size()))];
            else
                out += m_words.words[m_random.below(int(m_words.words.size()))];
        }
        return out;
    }

    const Vocabulary &m_words;
    Random &m_random;
};

int generate(const QString &folder, int days, qint64 bytesPerDay)
{
    QDir().mkpath(folder);
    const Vocabulary vocabulary;
    Random random;
    DayWriter writer(vocabulary, random);
    qint64 total = 0;
    for (int i = 0; i < days; ++i) {
        const QDate date = Newest.addDays(-i);
        QFile file(folder + '/' + date.toString("yyyyMMdd") + ".txt");
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 1;
        const QByteArray bytes = writer.day(date, bytesPerDay);
        file.write(bytes);
        total += bytes.size();
    }
    std::printf("{\"files\": %d, \"bytes\": %lld}\n", days, static_cast<long long>(total));
    return 0;
}

long peakKilobytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Counts like grep -c: the lines found; the hits are built as the window gets them.
struct CountingSink final : SearchSink
{
    void found(SearchHit &&hit) override
    {
        if (hits == 0)
            first = double(timer->nsecsElapsed()) / 1e9;
        ++hits;
        characters += hit.line.size();
    }
    qint64 hits = 0;
    qint64 characters = 0;
    const QElapsedTimer *timer = nullptr;
    double first = -1;
};

int search(const QString &folder, const QString &query, int days)
{
    SearchRequest request;
    request.folder = folder;
    request.query = query;
    if (days > 0)
        request.from = Newest.addDays(1 - days);
    CountingSink sink;
    const std::atomic_bool cancel{false};
    QElapsedTimer timer;
    sink.timer = &timer;
    timer.start();
    const SearchSummary summary = searchLogs(request, sink, cancel);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("{\"seconds\": %.6f, \"first\": %.6f, \"hits\": %lld, \"files\": %lld, \"bytes\": %lld, \"peak_kb\": %ld}\n",
                seconds, sink.first, static_cast<long long>(sink.hits), static_cast<long long>(summary.files),
                static_cast<long long>(summary.bytes), peakKilobytes());
    return 0;
}

class FixedClock final : public Clock
{
public:
    QDateTime now() const override { return QDateTime(Newest.addDays(1), QTime(9, 0)); }
};

// As a user does it: the window open on the folder, the query typed, Enter; the time until the
// first result is drawn in the list, and until the search has finished.
int window(int argc, char **argv, const QString &folder, const QString &query, int days)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RunningSettings settings;
    settings.LogFolder = folder;
    FixedClock clock;
    ConversationView look;
    HistoryWindow history(settings, clock, look);
    history.open();
    auto *hits = history.findChild<QTreeView *>("hits");
    auto *range = history.findChild<QCheckBox *>("range");
    range->setChecked(true);
    history.findChild<QDateEdit *>("from")->setDate(Newest.addDays(1 - days));
    history.findChild<QDateEdit *>("to")->setDate(Newest);
    history.findChild<QLineEdit *>("query")->setText(query);
    // The window settles (the days listed, the newest day shown) before the clock starts, as it
    // has by the time a user has typed a word.
    auto *list = history.findChild<QListWidget *>("days");
    QElapsedTimer settle;
    settle.start();
    while ((list->count() == 0 || settle.elapsed() < 300) && settle.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    history.findChild<QDateEdit *>("from")->setDate(Newest.addDays(1 - days));
    history.findChild<QDateEdit *>("to")->setDate(Newest);

    QElapsedTimer timer;
    double first = -1;
    double last = -1;
    QObject::connect(hits->model(), &QAbstractItemModel::rowsInserted, [&] {
        if (first >= 0)
            return;
        hits->viewport()->repaint(); // drawn, not just listed
        first = double(timer.nsecsElapsed()) / 1e9;
    });
    auto *status = history.findChild<QWidget *>("cancel");
    timer.start();
    history.startSearch();
    while (status->isEnabled() && timer.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    last = double(timer.nsecsElapsed()) / 1e9;
    std::printf("{\"first\": %.6f, \"last\": %.6f, \"hits\": %d}\n", first, last, hits->model()->rowCount());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 5 && std::strcmp(argv[1], "generate") == 0)
        return generate(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]), std::atoll(argv[4]));
    if (argc >= 4 && std::strcmp(argv[1], "search") == 0)
        return search(QString::fromLocal8Bit(argv[2]), QString::fromUtf8(argv[3]), argc >= 5 ? std::atoi(argv[4]) : 0);
    if (argc >= 5 && std::strcmp(argv[1], "window") == 0)
        return window(argc, argv, QString::fromLocal8Bit(argv[2]), QString::fromUtf8(argv[3]), std::atoi(argv[4]));
    std::fputs("usage: vorlan_bench_history generate FOLDER DAYS BYTES_PER_DAY | search FOLDER QUERY [DAYS]"
               " | window FOLDER QUERY DAYS\n", stderr);
    return 2;
}

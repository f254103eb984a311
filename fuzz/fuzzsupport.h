#pragma once

#include <QApplication>
#include <QByteArray>
#include <QList>

#include <cstdio>
#include <cstdlib>

// The application lives in a static and is torn down after the toolkit's own statics, which
// strands its font caches: a leak check at exit would report the toolkit's teardown order, not
// our code. libFuzzer's check after every input still runs, and sees every input's leaks.
extern "C" const char *__lsan_default_options()
{
    return "leak_check_at_exit=0";
}

namespace vorlan::fuzz {

// A property that failed is a finding like a crash: libFuzzer keeps the input that caused it.
inline void require(bool holds, const char *what)
{
    if (holds)
        return;
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

// The widgets are real, drawn on the offscreen platform, as in the widget tests. Qt wants its
// arguments to outlive the application, and the application to live for the whole run.
inline void startApplication()
{
    static int argc = 1;
    static char name[] = "vorlan-fuzz";
    static char *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
}

// The toolkit loads fonts and glyph caches on first use and keeps them for the whole run. Running
// one input of every script the views may meet before fuzzing starts keeps those one-time
// allocations out of the per-input leak check, which then sees only what the input's own
// handling leaves behind.
inline void warmUp(int (*testOneInput)(const uint8_t *, size_t))
{
    const QByteArray sample = QStringLiteral(u"100 0a,b,192.168.0.1,t,Aé日本ｱ한Ω\tя①\r\n").toUtf8();
    testOneInput(reinterpret_cast<const uint8_t *>(sample.constData()), size_t(sample.size()));
}

// One fuzz input as several datagrams: the record separator (0x1E) splits them. It is neither a
// lead nor a trail byte of code page 932 and nothing in the protocol uses it.
inline QList<QByteArray> records(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\x1e');
}

} // namespace vorlan::fuzz

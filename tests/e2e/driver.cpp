// vorlan-driver: the main window as the program runs it, with buttons an end-to-end test can
// press. Commands on standard input, one a line:
//   click <objectName>   presses that button
//   rows                 answers "rows" then " <address>=<information>" for every roster row
//   window               answers "window" and a JSON object: the platform, whether the window is
//                        exposed (mapped by the window system) and active, the focused control
//   focus                activates the window and puts the focus in the compose box; "focused"
//   type <text>          types the text into the compose box as key presses; "typed"
//   enter                presses Enter in the compose box; "entered"
//   compose              answers "compose" and a JSON object: the compose box's text and the
//                        preedit an input method shows in it
//   view                 answers "view" and a JSON object: the conversation's text
//   tick <address>       ticks the roster row of that address; "ticked"
//   tab <index>          shows that tab of the open modal dialog; "tab"
#include "app/mainwindow.h"
#include "app/windowlifetime.h"
#include "conversation/conversationview.h"
#include "roster/memberlist.h"

#include <QApplication>
#include <QEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextLayout>
#include <QWindow>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTabBar>

#include <cstdio>
#include <unistd.h>

using namespace vorlan;

namespace {

void answer(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void answer(const QByteArray &word, const QJsonObject &object)
{
    answer(word + ' ' + QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonObject windowState(const MainWindow &window)
{
    const QWidget *focused = QApplication::focusWidget();
    return {{"platform", QGuiApplication::platformName()},
            {"exposed", window.windowHandle() && window.windowHandle()->isExposed()},
            {"active", window.isActiveWindow()},
            {"focus", focused ? focused->objectName() : QString()}};
}

QJsonObject composeState(const MainWindow &window)
{
    const QTextLayout *layout = window.txtSend()->textCursor().block().layout();
    return {{"text", window.txtSend()->toPlainText()},
            {"preedit", layout ? layout->preeditAreaText() : QString()}};
}

void press(QWidget *target, int key, const QString &text)
{
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &down);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &up);
}

void perform(MainWindow &window, const QByteArray &command)
{
    const QByteArray trimmed = command.trimmed();
    if (trimmed.startsWith("type ")) {
        press(window.txtSend(), Qt::Key_unknown, QString::fromUtf8(trimmed.mid(5)));
        answer("typed");
        return;
    }
    const QList<QByteArray> words = trimmed.split(' ');
    if (words.size() == 2 && words[0] == "click") {
        if (auto *button = window.findChild<QPushButton *>(QString::fromLatin1(words[1]))) {
            answer("clicked " + words[1]);
            button->click();
            return;
        }
    } else if (words.size() == 1 && words[0] == "rows") {
        QByteArray line = "rows";
        const MemberList &members = *window.lvMember();
        for (int i = 0; i < members.rowCount(); ++i) {
            line += ' ' + members.text(i, MemberList::Address).toUtf8() + '='
                    + members.text(i, MemberList::Information).toUtf8();
        }
        answer(line);
        return;
    } else if (words.size() == 1 && words[0] == "window") {
        answer("window", windowState(window));
        return;
    } else if (words.size() == 1 && words[0] == "focus") {
        window.activateWindow();
        window.txtSend()->setFocus();
        answer("focused");
        return;
    } else if (words.size() == 1 && words[0] == "enter") {
        press(window.txtSend(), Qt::Key_Return, QStringLiteral("\r"));
        answer("entered");
        return;
    } else if (words.size() == 1 && words[0] == "compose") {
        answer("compose", composeState(window));
        return;
    } else if (words.size() == 1 && words[0] == "view") {
        answer("view", QJsonObject{{"text", window.rtfHomeMessage()->conversationText()}});
        return;
    } else if (words.size() == 2 && words[0] == "tick") {
        MemberList &members = *window.lvMember();
        const int row = int(members.addresses().indexOf(QString::fromLatin1(words[1])));
        if (row >= 0) {
            members.setTicked(row, true);
            answer("ticked");
            return;
        }
    } else if (words.size() == 2 && words[0] == "tab") {
        QWidget *dialog = QApplication::activeModalWidget();
        if (auto *tabs = dialog ? dialog->findChild<QTabBar *>() : nullptr) {
            tabs->setCurrentIndex(words[1].toInt());
            answer("tab");
            return;
        }
    }
    answer("error " + command.trimmed());
}

// Says "ready" once the window is up, after start-up.
class ShownSignal : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show && !m_told) {
            m_told = true;
            answer("ready");
        }
        return false;
    }

private:
    bool m_told = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    MainWindowOptions options;
    options.commandLine = QApplication::arguments().mid(1).join(u' ');
    options.realNetwork = true;
    MainWindow window(std::move(options));
    window.setMessagePresenter([](const QString &, QMessageBox::Icon) {});
    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &window, [&] {
        char buffer[4096];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            input.setEnabled(false);
            window.close();
            return;
        }
        pending.append(buffer, got);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0;) {
            const QByteArray command = pending.left(end);
            pending.remove(0, end + 1);
            perform(window, command);
        }
    });
    ShownSignal shown;
    window.installEventFilter(&shown);
    // Signals, the session's end and modal windows are handled as the program handles them.
    return runMainWindow(window);
}

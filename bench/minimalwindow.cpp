// The floor for start-up time and resident memory: one window with the same kinds of widgets as
// the main window (a list with six columns, push buttons, a splitter frame, a rich text view, a
// plain text box, a label) and Japanese texts, and nothing else.
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTreeWidget>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal window"));
    window.resize(600, 320);

    auto *list = new QTreeWidget(&window);
    list->setGeometry(8, 8, 577, 105);
    list->setHeaderLabels({QStringLiteral("User Name"), QStringLiteral("Desk"), QStringLiteral("Host Name"),
                           QStringLiteral("Address"), QStringLiteral("Start Time"),
                           QStringLiteral("Information")});
    auto *frame = new QFrame(&window);
    frame->setGeometry(8, 113, 577, 5);
    const QStringList captions = {QStringLiteral("オプション"), QStringLiteral("情報"),
                                  QStringLiteral("過去ログ"), QStringLiteral("リロード"),
                                  QStringLiteral("選択解除"), QStringLiteral("不在通知"),
                                  QStringLiteral("終了")};
    for (int i = 0; i < captions.size(); ++i) {
        auto *button = new QPushButton(captions[i], &window);
        button->setGeometry(88 + 72 * i, 120, 65, 20);
    }
    auto *view = new QTextEdit(&window);
    view->setReadOnly(true);
    view->setGeometry(8, 144, 577, 113);
    auto *send = new QPlainTextEdit(&window);
    send->setGeometry(8, 256, 577, 26);
    auto *label = new QLabel(QStringLiteral("簡易チャットシステム"), &window);
    label->setGeometry(8, 288, 579, 31);

    window.show();
    return QApplication::exec();
}

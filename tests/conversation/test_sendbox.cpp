#include "conversation/sendbox.h"

#include "roster/memberlist.h"
#include "support/settingsfolder.h"

#include <QApplication>
#include <QHelpEvent>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolTip>

#include <gtest/gtest.h>

#include <functional>

using namespace vorlan;

namespace {

const QString Me = QStringLiteral("10.0.0.1"), Taro = QStringLiteral("10.0.0.2"),
              Hanako = QStringLiteral("10.0.0.3");

// Counts the paint events a widget receives.
struct PaintCount : QObject
{
    explicit PaintCount(QWidget &widget) { widget.installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
    int count = 0;
};

class RecipientsTest : public test::SettingsFolderTest
{
protected:
    void SetUp() override
    {
        SettingsFolderTest::SetUp();
        window = newWindow();
        window->identity().address = Me;
        window->show();
        add(QStringLiteral("自分"), Me);
        add(QStringLiteral("太郎"), Taro);
        add(QStringLiteral("花子"), Hanako);
    }
    void add(const QString &name, const QString &address)
    {
        members().UpdateMember(QStringLiteral("0"), name, QStringLiteral("pc"), address, QString());
    }
    void tick(const QString &address, bool on = true)
    {
        members().setTicked(int(members().addresses().indexOf(address)), on);
    }
    MemberList &members() { return *window->lvMember(); }
    QString placeholder()
    {
        QApplication::processEvents();
        return window->txtSend()->placeholderText();
    }

    std::unique_ptr<MainWindow> window;
};

TEST_F(RecipientsTest, the_empty_box_names_the_ticked_members_while_a_line_goes_to_them_only)
{
    struct Step
    {
        const char *what;
        std::function<void()> act;
        QString shown;
    };
    const Step steps[] = {
        {"no ticks", [] {}, QString()},
        {"the own row only: the line goes to all", [&] { tick(Me); }, QString()},
        {"one", [&] { tick(Taro); }, QStringLiteral("→ 太郎")},
        {"two, in the list's order", [&] { tick(Hanako); }, QStringLiteral("→ 太郎, 花子")},
        {"sorted the other way", [&] { members().lvMember_ColumnClick(MemberList::UserName); },
         QStringLiteral("→ 花子, 太郎")},
        {"a name changes", [&] { add(QStringLiteral("次郎"), Taro); }, QStringLiteral("→ 花子, 次郎")},
        {"untick", [&] { tick(Taro, false); }, QStringLiteral("→ 花子")},
        {"the ticked member leaves", [&] { members().RemoveMember(Hanako); }, QString()},
        {"tick again", [&] { tick(Taro); }, QStringLiteral("→ 次郎")},
        {"a reload empties the list", [&] { members().clear(); add(QStringLiteral("自分"), Me); }, QString()},
    };
    PaintCount paints(*window->txtSend()->viewport());
    QString before;
    for (const Step &step : steps) {
        paints.count = 0;
        step.act();
        EXPECT_EQ(placeholder(), step.shown) << step.what;
        const bool painted = step.shown == before || test::waitFor([&] { return paints.count > 0; }, 500);
        EXPECT_TRUE(painted) << step.what << ": the box was not painted again";
        before = step.shown;
    }

    // Names too long for the box are cut with "…" to its width, the start kept.
    for (const QString &address : {Taro, Hanako}) {
        add(QString(60, u'長'), address);
        tick(address);
    }
    const QString shown = placeholder();
    SendBox &box = *window->txtSend();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("→ 長長")) && shown.endsWith(u'…')) << shown.toStdString();
    EXPECT_LE(box.fontMetrics().horizontalAdvance(shown), box.viewport()->width());
    box.resize(box.width() * 2, box.height());
    const QString wider = placeholder();
    EXPECT_GT(wider.size(), shown.size()) << "a wider box shows more";
    QFont font = box.font();
    font.setPointSizeF(font.pointSizeF() * 2);
    box.setFont(font);
    EXPECT_LT(placeholder().size(), wider.size()) << "a larger font shows less";
}

// The characters' marks in a block: (start, length) of every underlined stretch.
QList<std::pair<int, int>> marks(const QTextBlock &block)
{
    QList<std::pair<int, int>> result;
    for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
        if (range.format.underlineStyle() == QTextCharFormat::SpellCheckUnderline
            && range.format.underlineColor() == Qt::red)
            result.append({range.start, range.length});
    }
    return result;
}

TEST(SendBoxMarks, characters_code_page_932_cannot_carry_are_underlined_and_say_so)
{
    using Marks = QList<std::pair<int, int>>;
    const struct { QString text; Marks marked; } cases[] = {
        {QStringLiteral("かなカナ漢字ｶﾅ"), {}},
        {QStringLiteral("〜－①髙é"), {}}, // the converter's, the vendor rows', the best fit's
        {QStringLiteral("a😀b"), {{1, 2}}},
        {QStringLiteral("😀🍣は한"), {{0, 4}, {5, 1}}},
    };
    SendBox box;
    box.show();
    for (const auto &c : cases) {
        box.setPlainText(c.text);
        QApplication::processEvents();
        EXPECT_EQ(marks(box.document()->firstBlock()), c.marked) << c.text.toStdString();
    }
    // Typing marks as it goes, line by line.
    box.setPlainText(QStringLiteral("ok"));
    box.moveCursor(QTextCursor::End);
    box.insertPlainText(QStringLiteral("\n絵文字🎉"));
    EXPECT_EQ(marks(box.document()->firstBlock()), Marks());
    EXPECT_EQ(marks(box.document()->lastBlock()), Marks({{3, 2}}));
    EXPECT_EQ(box.toPlainText(), QStringLiteral("ok\n絵文字🎉")) << "the text is kept as typed";

    // The tooltip over a marked character says it cannot be sent; elsewhere the box's own.
    const auto tipAt = [&box](int position) {
        QTextCursor cursor(box.document()->lastBlock());
        cursor.setPosition(box.document()->lastBlock().position() + position);
        const QPoint point = box.cursorRect(cursor).center() + QPoint(3, 0);
        QToolTip::hideText();
        QHelpEvent help(QEvent::ToolTip, point, box.viewport()->mapToGlobal(point));
        QApplication::sendEvent(box.viewport(), &help);
        return QToolTip::text();
    };
    EXPECT_EQ(tipAt(3), QStringLiteral("この文字は送信できません"));
    EXPECT_EQ(tipAt(1), QStringLiteral("メッセージ送信用"));
}

} // namespace

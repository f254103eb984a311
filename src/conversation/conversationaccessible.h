#pragma once

#include <QAccessibleWidget>

namespace vorlan {

class ConversationView;

// What assistive technology (a screen reader, a magnifier) reads of the conversation view: its
// text as one read-only, multi-line text, offsets counting a line feed after every complete
// line, with the selection, the place of each character on the screen and the scrolling to it.
class ConversationAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit ConversationAccessible(ConversationView *view);

    // Made for every ConversationView asked about.
    static void install();

    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    ConversationView *view() const;
};

} // namespace vorlan

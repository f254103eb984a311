#pragma once

#include <QToolButton>

class QAbstractScrollArea;

namespace vorlan {

// The small button in a view's lower right corner that counts the lines which came in below
// while the reader was elsewhere ("↓ 12"); clicked, the view shows its end. Hidden while there
// are none. It sits on the view, not on its viewport, so scrolling the text leaves it in place.
class NewLinesMarker : public QToolButton
{
    Q_OBJECT

public:
    explicit NewLinesMarker(QAbstractScrollArea *view);

    void addLines(qsizetype lines);
    void clear();
    qsizetype count() const { return m_count; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void place();

    QAbstractScrollArea *m_view;
    qsizetype m_count = 0;
};

} // namespace vorlan

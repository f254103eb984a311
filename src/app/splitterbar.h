#pragma once

#include <QFrame>

class QMouseEvent;

namespace vorlan {

// imgResize2: the thin bar between the member list and the button row. A drag with the left
// button (until that button is let go) reports, at every pointer move, the pointer's vertical offset from the bar, which
// moves the bar with it; the next offset is then taken from the bar's new place.
class SplitterBar : public QFrame
{
    Q_OBJECT
public:
    explicit SplitterBar(QWidget *parent = nullptr);

signals:
    void dragged(int offsetPixels);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_dragging = false;
};

} // namespace vorlan

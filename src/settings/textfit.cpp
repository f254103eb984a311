#include "settings/textfit.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace vorlan {

namespace {

constexpr char DesignProperty[] = "vorlanDesign";

int pixels(int twips, qreal dpi)
{
    return qRound(twips * dpi / 1440.0);
}

bool designed(const QWidget *widget)
{
    return widget->property(DesignProperty).isValid();
}

QRect design(const QWidget *widget)
{
    return widget->property(DesignProperty).toRect();
}

QList<QWidget *> designedChildren(const QWidget *container)
{
    QList<QWidget *> result;
    for (QObject *child : container->children()) {
        auto *widget = qobject_cast<QWidget *>(child);
        if (widget && !widget->isWindow() && designed(widget))
            result.append(widget);
    }
    return result;
}

// A control's extent along one axis in design twips, and the pixels its content needs there.
struct Span
{
    int start;
    int end;
    int needed;
};

// One axis of a container: where a design position (twips) lies, in pixels, once the room that
// the controls ending at or before it needed is added.
class Axis
{
public:
    Axis(qreal dpi, QList<Span> spans)
        : m_dpi(dpi)
    {
        // A control's room depends on what ends before it, so the nearest edges come first.
        std::sort(spans.begin(), spans.end(), [](const Span &a, const Span &b) { return a.end < b.end; });
        for (const Span &span : std::as_const(spans)) {
            const int room = pixels(span.end, m_dpi) + added(span.end, false) - at(span.start);
            if (span.needed > room) {
                int &extra = m_extra[span.end];
                extra = std::max(extra, span.needed - room);
            }
        }
    }

    int at(int twips) const { return pixels(twips, m_dpi) + added(twips, true); }

private:
    int added(int twips, bool inclusive) const
    {
        int sum = 0;
        for (const auto &[edge, extra] : m_extra) {
            if (edge > twips || (edge == twips && !inclusive))
                break;
            sum += extra;
        }
        return sum;
    }

    qreal m_dpi;
    std::map<int, int> m_extra; // edge (twips) -> pixels added there
};

struct Fit
{
    Axis x;
    Axis y;
};

// The bottom of a frame's title, in pixels from the frame's top.
int titleBottom(const QGroupBox *frame)
{
    QStyleOptionGroupBox option;
    option.initFrom(frame);
    option.text = frame->title();
    option.textAlignment = frame->alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    return frame->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame).bottom() + 1;
}

bool showsText(const QWidget *widget)
{
    if (const auto *label = qobject_cast<const QLabel *>(widget))
        return !label->text().isEmpty();
    // Push buttons are left as designed: their captions are short and the style pads them.
    return (qobject_cast<const QAbstractButton *>(widget) && !qobject_cast<const QPushButton *>(widget))
           || qobject_cast<const QTabBar *>(widget);
}

QSize neededSize(QWidget *widget)
{
    if (auto *frame = qobject_cast<QGroupBox *>(widget))
        return fitToText(frame, design(frame).size()).expandedTo(QSize(frame->minimumSizeHint().width(), 0));
    // A little air beside a text, so that neighbouring texts that fit do not run together.
    if (showsText(widget))
        return widget->sizeHint() + QSize(2 * widget->fontMetrics().horizontalAdvance(u' '), 0);
    return QSize(0, 0);
}

} // namespace

void placeDesigned(QWidget *widget, const QRect &twips)
{
    widget->setProperty(DesignProperty, twips);
    const qreal dpi = widget->logicalDpiY();
    widget->setGeometry(pixels(twips.x(), dpi), pixels(twips.y(), dpi), pixels(twips.width(), dpi),
                        pixels(twips.height(), dpi));
}

QSize fitToText(QWidget *container, const QSize &designTwips, const QList<QList<QWidget *>> &layers)
{
    const qreal dpi = container->logicalDpiY();
    const QList<QWidget *> children = designedChildren(container);
    QHash<QWidget *, QSize> needs;
    QHash<QWidget *, qsizetype> layerOf;
    for (QWidget *child : children)
        needs.insert(child, neededSize(child));
    for (qsizetype i = 0; i < layers.size(); ++i) {
        for (QWidget *member : layers[i])
            layerOf.insert(member, i);
    }

    // A frame's title lies above its controls: the topmost ones move down when it is taller.
    std::optional<Span> title;
    if (const auto *frame = qobject_cast<const QGroupBox *>(container)) {
        int top = designTwips.height();
        for (const QWidget *child : children)
            top = std::min(top, design(child).y());
        title = Span{0, top, titleBottom(frame)};
    }

    std::vector<Fit> fits;
    for (qsizetype layer = 0; layer < std::max<qsizetype>(1, layers.size()); ++layer) {
        QList<Span> xs, ys;
        for (QWidget *child : children) {
            if (layerOf.value(child, layer) != layer)
                continue;
            const QRect r = design(child);
            const QSize need = needs.value(child);
            xs.append({r.x(), r.x() + r.width(), need.width()});
            ys.append({r.y(), r.y() + r.height(), need.height()});
        }
        if (title)
            ys.append(*title);
        fits.push_back({Axis(dpi, xs), Axis(dpi, ys)});
    }

    // A child of one layer follows that layer; the others follow the layer that pushes furthest.
    const auto position = [&fits](int twips, Axis Fit::*axis, qsizetype layer) {
        int result = 0;
        for (size_t i = 0; i < fits.size(); ++i) {
            if (layer < 0 || qsizetype(i) == layer)
                result = std::max(result, (fits[i].*axis).at(twips));
        }
        return result;
    };
    for (QWidget *child : children) {
        const QRect r = design(child);
        const qsizetype layer = layerOf.value(child, -1);
        const int left = position(r.x(), &Fit::x, layer);
        const int top = position(r.y(), &Fit::y, layer);
        child->setGeometry(left, top, position(r.x() + r.width(), &Fit::x, layer) - left,
                           position(r.y() + r.height(), &Fit::y, layer) - top);
    }
    return QSize(position(designTwips.width(), &Fit::x, -1),
                 position(designTwips.height(), &Fit::y, -1));
}

} // namespace vorlan

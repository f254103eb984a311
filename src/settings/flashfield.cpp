#include "settings/flashfield.h"

#include <QKeyEvent>

namespace vorlan {

FlashField::FlashField(QWidget *parent)
    : QLineEdit(parent)
{
}

void FlashField::keyPressEvent(QKeyEvent *event)
{
    const QString typed = event->text();
    for (QChar c : typed) {
        if (c < u'0' || c > u'9') {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

} // namespace vorlan

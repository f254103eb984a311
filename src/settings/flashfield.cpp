#include "settings/flashfield.h"

#include <QKeyEvent>

namespace vorlan {

FlashField::FlashField(QWidget *parent)
    : QLineEdit(parent)
{
    // An input method would commit full-width digits past keyPressEvent; they read back as 0.
    setAttribute(Qt::WA_InputMethodEnabled, false);
}

void FlashField::keyPressEvent(QKeyEvent *event)
{
    // X11 and Wayland send Delete with the text "\x7f": it is an editing key, not a character.
    if (event->key() == Qt::Key_Delete) {
        QLineEdit::keyPressEvent(event);
        return;
    }
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

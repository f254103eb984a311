#pragma once

#include <QLineEdit>

namespace vorlan {

// txtFlash: takes typed digits only. Every other typed character is dropped, Backspace included,
// as the desktop peers' field does; Delete, the arrow keys and the context menu still work.
class FlashField : public QLineEdit
{
    Q_OBJECT
public:
    explicit FlashField(QWidget *parent = nullptr);
protected:
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace vorlan

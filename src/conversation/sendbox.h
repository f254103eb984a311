#pragma once

#include <QPlainTextEdit>
#include <QStringList>

namespace vorlan {

// txtSend: the compose box. Enter sends instead of breaking the line; pasted text keeps its lines.
// Characters that code page 932 cannot carry (they reach every peer as "?") are underlined as a
// misspelt word is, and say so in their tooltip; they are still sent as typed. While the next
// line goes to some members only, the empty box names them.
class SendBox : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit SendBox(QWidget *parent = nullptr);

    // The members the next line goes to; empty when it goes to everybody.
    void setRecipients(const QStringList &names);

signals:
    void enterPressed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void showRecipients();
    bool unmappedAt(const QPoint &point) const;

    QStringList m_recipients;
};

} // namespace vorlan

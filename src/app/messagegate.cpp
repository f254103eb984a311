#include "app/messagegate.h"

#include <cstdio>

namespace vorlan {

void MessageGate::setPresenter(Presenter presenter)
{
    m_presenter = std::move(presenter);
}

void MessageGate::setClosing()
{
    m_closing = true;
}

void MessageGate::show(const QString &text, QMessageBox::Icon icon, QWidget *parent)
{
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(u'\n', u' ');
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
    if (m_open || m_closing)
        return;
    m_open = true;
    if (m_presenter) {
        m_presenter(text, icon);
    } else {
        QMessageBox box(icon, QStringLiteral("Vorlan"), text, QMessageBox::Ok, parent);
        // Messages quote settings and may one day quote peers: "<" must never start markup.
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
    m_open = false;
}

} // namespace vorlan

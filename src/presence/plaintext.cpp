#include "presence/plaintext.h"

#include <QTextDocument>

namespace vorlan {

namespace {

const QString Placeholder = QStringLiteral("[*]");

} // namespace

QString captionShowing(const QString &text)
{
    return QString(text).replace(Placeholder, Placeholder + Placeholder);
}

// A run of n placeholders shows as n / 2: an odd one is the modified mark's place, and each
// pair left shows as one.
QString shownCaption(const QString &title)
{
    QString shown;
    qsizetype from = 0;
    for (qsizetype at = title.indexOf(Placeholder); at >= 0; at = title.indexOf(Placeholder, from)) {
        shown += QStringView(title).sliced(from, at - from);
        qsizetype run = 0;
        for (from = at; QStringView(title).sliced(from).startsWith(Placeholder); from += Placeholder.size())
            ++run;
        shown += Placeholder.repeated(run / 2);
    }
    return shown.append(QStringView(title).sliced(from));
}

QString toolTipShowing(const QString &text)
{
    // Kept in a preformatted paragraph: spaces and tabs stay as they were, as in plain text.
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpacePre) : text;
}

} // namespace vorlan

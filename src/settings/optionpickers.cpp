#include "settings/optionpickers.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QFontInfo>

namespace vorlan {

std::optional<QString> QtOptionPickers::pickFile(QWidget *parent, const FilePickRequest &request)
{
    QFileDialog dialog(parent, request.title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(request.filter);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (request.preset.isEmpty()) {
        dialog.setDirectory(request.startFolder);
    } else {
        const QFileInfo preset(request.preset);
        if (preset.dir().exists())
            dialog.setDirectory(preset.absolutePath());
        dialog.selectFile(preset.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

namespace {

// The font as it is drawn: the family fontconfig chose (a requested "Sans Serif" is no family the
// dialog lists) and the style of it that has the weight and slant drawn. Without a style name
// Qt's dialog starts on the family's first style ("Oblique" for DejaVu Sans), and "OK" would
// return that.
QFont fontAsShown(const QFont &font)
{
    const QFontInfo shown(font);
    QFont result(shown.family());
    result.setPointSizeF(font.pointSizeF() > 0 ? font.pointSizeF() : shown.pointSizeF());
    result.setWeight(QFont::Weight(shown.weight()));
    result.setItalic(shown.italic());
    result.setStyleName(shown.styleName());
    return result;
}

} // namespace

std::optional<QFont> QtOptionPickers::pickFont(QWidget *parent, const QFont &initial)
{
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, fontAsShown(initial), parent, QString(),
                                            QFontDialog::ScalableFonts | QFontDialog::NonScalableFonts);
    if (!ok)
        return std::nullopt;
    return font;
}

std::optional<QColor> QtOptionPickers::pickColor(QWidget *parent, const QColor &initial)
{
    const QColor colour = QColorDialog::getColor(initial, parent);
    if (!colour.isValid())
        return std::nullopt;
    return colour;
}

std::optional<QString> QtOptionPickers::pickFolder(QWidget *parent, const QString &start)
{
    const QString folder = QFileDialog::getExistingDirectory(
        parent, QStringLiteral("フォルダを指定してください。"), start, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(folder);
}

} // namespace vorlan

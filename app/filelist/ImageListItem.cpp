#include "filelist/ImageListItem.h"

bool ImageListItem::has(std::string_view key) const { return value(key).isValid(); }

QVariant ImageListItem::value(std::string_view key) const {
    if (key == kFilePath) return fileUrl();
    if (key == kNumOfPages) return QVariant::fromValue<qint64>(numOfPages);
    if (key == kIcon) return icon.isNull() ? QVariant() : QVariant(icon);
    if (key == kWidth) return width ? QVariant(*width) : QVariant();
    if (key == kHeight) return height ? QVariant(*height) : QVariant();
    if (key == kPassword) return password;
    if (key == kParentFolderName) return parentFolderName ? QVariant(QUrl::fromLocalFile(*parentFolderName)) : QVariant();
    return {};
}

QVariantMap ImageListItem::toVariantMap() const {
    QVariantMap map;
    for (const char* key : {kFilePath, kNumOfPages, kIcon, kWidth, kHeight, kPassword, kParentFolderName}) {
        QVariant v = value(key);
        if (v.isValid()) map.insert(QString::fromLatin1(key), v);
    }
    return map;
}

QString FormatText(const TextLookup& text, std::string_view key, const QString& argument) {
    const QString format = TextsOrKeys(text)(key);
    if (!format.contains(QLatin1String("%1"))) return format;
    return format.arg(argument);
}

TextLookup TextsOrKeys(TextLookup text) {
    if (text) return text;
    return [](std::string_view key) { return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())); };
}

#pragma once

#include <QImage>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

// One PDF of the file list. Built once, on the adding thread, when the file is added, and never
// changed afterwards. The icon is a QImage so that it can be made off the GUI thread; the table
// turns it into a pixmap on the GUI thread.
struct ImageListItem {
    static constexpr const char* kFilePath = "FilePath";
    static constexpr const char* kNumOfPages = "NumOfPages";
    static constexpr const char* kIcon = "Icon";
    static constexpr const char* kWidth = "Width";
    static constexpr const char* kHeight = "Height";
    static constexpr const char* kPassword = "Password";
    static constexpr const char* kParentFolderName = "ParentFolderName";

    QString filePath;                         // "FilePath": absolute path of the PDF
    std::int64_t numOfPages = 0;              // "NumOfPages"
    QImage icon;                              // "Icon": 42 x 42 points; null when none could be had
    std::optional<float> width;               // "Width": first page's crop box, points
    std::optional<float> height;              // "Height"
    QString password;                         // "Password": "" when none is needed
    std::optional<QString> parentFolderName;  // "ParentFolderName": the added folder it was found in,
                                              // only when the folder tree is kept

    QUrl fileUrl() const { return QUrl::fromLocalFile(filePath); }
    bool has(std::string_view key) const;
    // The value under a key as the table and the conversion run read it: URLs for "FilePath"
    // and "ParentFolderName", qint64 for "NumOfPages", float for "Width" and "Height", QImage
    // for "Icon", QString for "Password"; an invalid QVariant when the key is absent.
    QVariant value(std::string_view key) const;
    // Every present key with its value.
    QVariantMap toVariantMap() const;
};

// Looks up a text of the user interface by its key; a key without a text yields the key itself.
using TextLookup = std::function<QString(std::string_view key)>;

// `text` itself, or, when it is empty, a lookup that answers every key with the key.
TextLookup TextsOrKeys(TextLookup text);

// A format text with one argument (%1). A text without the marker is returned as it is, so a
// missing key still shows something sensible; the argument is not scanned for markers.
QString FormatText(const TextLookup& text, std::string_view key, const QString& argument);

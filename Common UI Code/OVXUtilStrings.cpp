// Conversions between strings and byte strings, the file manager's order and size texts.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QCollator>

#include "Common UI Code/OVXUtil.h"
#include "OVXUtilHelpers.h"

namespace fs = std::filesystem;

std::string GetFileBaseNameString(const fs::path& url, bool* found) {
    std::string name = url.empty() ? std::string() : FileNameWithoutExtension(url);
    if (found) *found = !name.empty();
    return name;
}

std::string GetUTF8String(const QString& string) { return string.toStdString(); }

std::string GetFilePathString(const fs::path& url, bool* found) {
    std::string path = url.string();
    if (found) *found = !path.empty();
    return path;
}

char* CopyFilePathCString(const fs::path& url) {
    if (url.empty()) return nullptr;
    return ::strdup(url.c_str());
}

char* CopyCString(const QString& string) {
    if (string.isEmpty()) return nullptr;
    return ::strdup(string.toUtf8().constData());
}

namespace {

int Sign(int value) { return (value > 0) - (value < 0); }

}  // namespace

int FinderCompareStrings(const QString& string, const QString& other, const QLocale& locale) {
    // Ignoring case in the collator means comparing at its secondary strength, which ignores
    // width as well.
    QCollator finder(locale);
    finder.setNumericMode(true);
    finder.setCaseSensitivity(Qt::CaseInsensitive);
    if (const int order = finder.compare(string, other); order != 0) return Sign(order);
    if (string == other) return 0;
    // Equal by those rules yet different: case and width decide, then the characters themselves.
    QCollator exact(locale);
    exact.setNumericMode(true);
    exact.setCaseSensitivity(Qt::CaseSensitive);
    if (const int order = exact.compare(string, other); order != 0) return Sign(order);
    return Sign(string.compare(other, Qt::CaseSensitive));
}

namespace {

std::string Format(const char* format, float value) {
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<double>(value));
    return text;
}

std::string SizeString(float value, float step) {
    static const char* const formats[] = {"%.0f B", "%.1f KB", "%.2f MB", "%.3f GB"};
    for (const char* format : formats) {
        if (value < step) return Format(format, value);
        value /= step;
    }
    return Format("%.4f TB", value);
}

}  // namespace

std::string GetFileSizeString(double bytes) { return SizeString(static_cast<float>(bytes), 1024.0f); }

std::string GetFileSizeStringDecimal(double bytes) { return SizeString(static_cast<float>(bytes), 1000.0f); }

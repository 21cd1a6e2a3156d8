#include "filelist/InputFiles.h"

#include <QFile>

#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kPdfMimeType = "application/pdf";

bool HasPdfTypeAttribute(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    char value[64] = {};
    const ssize_t size = getxattr(name.constData(), "user.mime_type", value, sizeof value - 1);
    if (size <= 0) return false;
    return QByteArray(value, static_cast<qsizetype>(size)).trimmed() == kPdfMimeType;
}

using FolderId = std::pair<dev_t, ino_t>;

struct Walker {
    bool recursive;
    const FoundFileVisitor& visit;
    std::set<FolderId> visited;  // guards against a folder reached twice (bind mounts)

    // Answers false when the walk is to stop.
    bool WalkFolder(const fs::path& folder, const QString& addedFolder) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0) return true;
        if (!visited.insert({st.st_dev, st.st_ino}).second) return true;

        std::vector<fs::path> entries;
        std::error_code ec;
        fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
        for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
            const fs::path& entry = it->path();
            if (entry.filename().native().starts_with('.')) continue;
            entries.push_back(entry);
        }
        std::sort(entries.begin(), entries.end(),
                  [](const fs::path& a, const fs::path& b) { return a.filename().native() < b.filename().native(); });

        for (const fs::path& entry : entries) {
            std::error_code statError;
            const fs::file_status own = fs::symlink_status(entry, statError);
            if (!statError && fs::is_symlink(own)) {
                std::error_code targetError;
                // A link to a folder is not followed: that is how a folder linking to itself
                // would be searched for ever.
                if (fs::is_directory(fs::status(entry, targetError))) continue;
            } else if (!statError && fs::is_directory(own)) {
                if (recursive && !WalkFolder(entry, addedFolder)) return false;
                continue;
            }
            if (!visit(FromFsPath(entry), &addedFolder)) return false;
        }
        return true;
    }
};

}  // namespace

QStringList SupportedInputFileTypes() {
    return {QStringLiteral("pdf"), QStringLiteral("ai"), QStringLiteral("PDF"), QString::fromLatin1(kPdfMimeType)};
}

QString PathExtension(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0) return {};
    return name.mid(dot + 1);
}

bool IsSupportedInputFile(const QString& path) {
    if (path.isEmpty()) return false;
    const QString extension = PathExtension(path).toLower();
    if (extension == QLatin1String("pdf") || extension == QLatin1String("ai")) return true;
    return HasPdfTypeAttribute(path);
}

fs::path ToFsPath(const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); }

QString FromFsPath(const fs::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.native())); }

void WalkAddedPaths(const QStringList& paths, bool recursive, const FoundFileVisitor& visit) {
    Walker walker{recursive, visit, {}};
    for (const QString& path : paths) {
        std::error_code ec;
        const fs::path fsPath = ToFsPath(path);
        if (!path.isEmpty() && fs::is_directory(fs::status(fsPath, ec))) {
            walker.visited.clear();
            if (!walker.WalkFolder(fsPath, path)) return;
            continue;
        }
        if (!visit(path, nullptr)) return;
    }
}

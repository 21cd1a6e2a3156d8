#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "filelist/ImageListItem.h"
#include "filelist/InputFiles.h"
#include "support/RestrictedPdf.h"
#include "support/TestPdf.h"

namespace filelisttest {

namespace fs = std::filesystem;

inline QString Q(const fs::path& path) { return FromFsPath(path); }

// A plain PDF with `pages` pages of the given size.
inline fs::path WritePdf(const fs::path& path, int pages = 1, double width = 612, double height = 792) {
    testpdf::Options options;
    options.pages.clear();
    for (int i = 0; i < pages; ++i) {
        testpdf::Page page;
        page.width = width;
        page.height = height;
        options.pages.push_back(page);
    }
    fs::create_directories(path.parent_path());
    return testpdf::Write(path, options);
}

// A PDF that needs `userPassword` (owner password "owner-" + it).
inline fs::path WriteLockedPdf(const fs::path& path, const std::string& userPassword) {
    testpdf::Options options;
    options.encryption = testpdf::Encryption::AES_256;
    options.userPassword = userPassword;
    options.ownerPassword = "owner-" + userPassword;
    fs::create_directories(path.parent_path());
    return testpdf::Write(path, options);
}

// A PDF with an empty user password and an owner password; copying allowed.
inline fs::path WriteOwnerOnlyPdf(const fs::path& path) {
    testpdf::Options options;
    options.encryption = testpdf::Encryption::RC4_128;
    options.ownerPassword = "owner";
    fs::create_directories(path.parent_path());
    return testpdf::Write(path, options);
}

inline fs::path WriteBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

inline bool RunningAsRoot() { return geteuid() == 0; }

inline QString FileName(const QString& path) { return QString::fromStdString(ToFsPath(path).filename().string()); }

inline ImageListItem Item(const QString& path, std::optional<float> width = 612.f, std::optional<float> height = 792.f,
                          std::int64_t pages = 1) {
    ImageListItem item;
    item.filePath = path;
    item.numOfPages = pages;
    item.width = width;
    item.height = height;
    return item;
}

}  // namespace filelisttest

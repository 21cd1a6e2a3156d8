#pragma once

// File, size and string helpers of the shared helper file. Error codes are errno values, 0 for
// success.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QLocale>
#include <QString>
#include <QUrl>

#include "OVXDataHolder.h"

namespace platform {
class PdfDocument;
}

// ---------------------------------------------------------------------------------------------
// Files. Every descriptor is closed on every way out; reads and writes go on until the whole
// length is done (retrying interrupted calls), so files of any size are handled.

// Writes `length` bytes to `path`, created (mode 0600) or truncated. 0 when every byte was
// written; otherwise an error code, never 0: the open's, seek's, write's or close's errno, or 5
// after printing "writeFile: short write" when the file took no more bytes.
int writeFile(const char* path, const void* bytes, std::size_t length);

// Reads the whole file. `buffer` and `size` are emptied first and hold the contents only on
// success (an empty file gives no buffer, size 0 and 0). Errors: the open's or status call's
// errno, 12 when the buffer cannot be had, 5 when the read fails or ends early ("readFile:
// short read" is printed when the file ended before its size).
int readFile(const char* path, std::unique_ptr<std::uint8_t[]>& buffer, std::size_t& size);

// Copies the source's bytes to the destination (created with mode 0600, or emptied), in chunks
// of at most kCopyChunkBytes, each written at the offset it was read from; the kernel copies
// them itself where it can. A destination that is the source itself (the same file under
// another path) is left as it is. 0 on success; otherwise the open's, seek's or copy's errno, 12
// when no buffer can be had, or 5 with "readFile: short read" / "writeFile: short write".
int CopyFileContents(const char* sourcePath, const char* destinationPath);
constexpr std::size_t kCopyChunkBytes = 20'000'000;

// Called after each chunk CopyFileContents has copied, with its offset and length (tests and
// diagnostics); an empty function stops the reports.
using CopyChunkObserver = std::function<void(std::uint64_t offset, std::size_t length)>;
void SetCopyChunkObserver(CopyChunkObserver observer);

// Puts the new file in place of the target and removes the new file. Nothing is done (and true
// answered) when either path is empty or both name the same file, whatever the path (a hard
// link, a symbolic link, "a/./b"). The new file is renamed onto the target; across file systems
// it is copied to a temporary file beside the target, which is then renamed onto it, so the
// target holds its old contents or the new ones, never a part. The target's permissions are
// kept. False, with the target untouched and the new file kept, when that fails or the target
// is a folder.
bool ReplaceFileAtURL(const std::filesystem::path& newFile, const std::filesystem::path& target);

// The size of the file opened for reading; 0 or the open's errno. `size` is set only on success.
int GetFileSizeAtURL(const std::filesystem::path& url, std::uint64_t& size);

// Whether two URLs name the same item: equal absolute URLs, or two file URLs with equal paths
// (file://localhost/a equals file:///a).
bool isEqualToURL(const QUrl& url, const QUrl& other);

// ---------------------------------------------------------------------------------------------
// Strings.

// The UTF-8 text of the last path component less its extension; `found` says whether there was
// one (the result is empty otherwise).
std::string GetFileBaseNameString(const std::filesystem::path& url, bool* found);
// The string's UTF-8 text, empty when there is none.
std::string GetUTF8String(const QString& string);
// The UTF-8 text of the path, with `found` as above.
std::string GetFilePathString(const std::filesystem::path& url, bool* found);
// New C strings (free them with free()); null for an empty path or string.
char* CopyFilePathCString(const std::filesystem::path& url);
char* CopyCString(const QString& string);

// The file manager's order in `locale`: digits compare as numbers ("File2" before "File10"),
// case and character width are ignored (full-width digits count as their ASCII forms), and
// strings that are equal by those rules but not identical are still put in a fixed order, so
// the result is 0 only for identical strings. -1, 0 or 1.
int FinderCompareStrings(const QString& string, const QString& other, const QLocale& locale);

// Human-readable sizes: "1023 B", "1.5 KB", "1.00 MB", "1.000 GB", "1.0000 TB", dividing by
// 1024 (GetFileSizeString) or 1000 (GetFileSizeStringDecimal) at each step.
std::string GetFileSizeString(double bytes);
std::string GetFileSizeStringDecimal(double bytes);

// ---------------------------------------------------------------------------------------------
// Folders and markers.

// The sum of the sizes of the files below the folder; hidden items (and everything inside
// hidden folders) and items that are not plain files count nothing. Links are not followed.
std::uint64_t GetFolderSize(const std::filesystem::path& folder);

// The folder `name` ("OVXApplication" when absent) in the user's data folder ($XDG_DATA_HOME
// when it is an absolute path, else ~/.local/share), made (mode 0700) with any missing parents.
// Nothing, after logging "Alert - Can't find application support folder", when no data folder
// can be named or the folder cannot be had.
std::optional<std::filesystem::path> GetApplicationSupportFolder(const std::optional<std::string>& name);

// The daily marker: the hidden file ".OVXStore" in the system temporary folder, dated by its
// modification time (which CreateDailyMarker sets by making it anew). Stale when missing, or
// dated before today (local time); a marker that is out of date, or cannot be read, is removed.
bool IsDailyMarkerStale();
// Makes the marker anew (empty); whether that succeeded.
bool CreateDailyMarker();
std::filesystem::path DailyMarkerPath();

// ---------------------------------------------------------------------------------------------
// A new PDF with every page of the document redrawn as vector content. Each page is its crop
// box (the media box when the crop box is empty), turned by the page's rotation: width and
// height are swapped for odd quarter turns. Pages that cannot be loaded are left out. Empty when
// no page could be written.
std::vector<std::uint8_t> CreatePDFDataFromDocument(const platform::PdfDocument& document);

#pragma once

#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>

// Which files the list takes, and the search of added folders.

// The accepted input types, for the open panel and the input test alike: the extensions "pdf",
// "ai" and "PDF", and the MIME type that a file's "user.mime_type" attribute may name (the
// desktop's way of typing a file apart from its name).
QStringList SupportedInputFileTypes();

// A file is taken when its extension, in any letter case, is "pdf" or "ai", or, whatever its
// name, when its "user.mime_type" attribute says "application/pdf". Whether it really is a PDF
// is found out when it is opened.
bool IsSupportedInputFile(const QString& path);

// The file name's extension as the desktop sees it: after the last dot, none for a name that
// starts with its only dot (".pdf") or ends with a dot.
QString PathExtension(const QString& path);

std::filesystem::path ToFsPath(const QString& path);
QString FromFsPath(const std::filesystem::path& path);

// Called for every file the walk finds, in order; `addedFolder` is the added folder the file
// was found in, or null for a path that was added itself. Answers false to stop the walk.
using FoundFileVisitor = std::function<bool(const QString& path, const QString* addedFolder)>;

// Walks the paths of one add request in their order. A folder (or a link to one) among them is
// searched: its entries in name order, hidden entries (names starting with a dot) left out, the
// entries of sub-folders too when `recursive`, each folder's files before going on past it.
// Links to folders inside an added folder are not followed, so a folder that links to itself
// (or to a parent) is searched once; links to files are taken. Folders that cannot be read are
// passed over and the walk goes on. Any other path is handed on as it is: a file, or something
// that cannot be looked at (the opening will pass it over).
void WalkAddedPaths(const QStringList& paths, bool recursive, const FoundFileVisitor& visit);

#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "filelist/ImageListItem.h"
#include "filelist/PasswordSession.h"

class FileListModel;

// One request to add files: the paths of files and folders, in the order given.
struct AddRequest {
    QStringList paths;
    // The list position of the first new item, fixed when the request is made (drops, files
    // opened with the program); none: the list's end when the request starts (the open panel).
    // A position beyond the list's end at that moment is its end.
    std::optional<int> index;
    bool recursive = true;      // search added folders at every depth
    bool maintainTree = false;  // record the added folder in each item found in it; only with recursive
};

// Asks for a password on the GUI thread and answers through `done`, once, on the GUI thread.
class PasswordPrompt {
public:
    virtual ~PasswordPrompt() = default;
    virtual void Ask(const QString& fileName, const QString& typedText,
                     std::function<void(const PasswordAnswer&)> done) = 0;
};

// Adds files to the list: each request runs on the adding thread, one after another in the
// order they were made; Add returns at once. The thread opens and tests the files, asks for
// passwords through the prompt (waiting for the answer while the GUI thread runs the sheet) and
// hands each finished item to the GUI thread, where it is inserted into the model.
//
// Signals, on the GUI thread, per request: busyStateChanged(1) before anything of it is
// inserted, the insertions, busyStateChanged(5), requestFinished(first row, count).
class FileAdder : public QObject {
    Q_OBJECT
public:
    static constexpr int kBusyCode = 1;
    static constexpr int kIdleCode = 5;

    // `prompt` may be null (protected files that need a password are passed over); it must
    // outlive the adder.
    FileAdder(FileListModel* model, PasswordPrompt* prompt, QObject* parent = nullptr);
    ~FileAdder() override;

    void Add(AddRequest request);
    // Whether a request runs or waits.
    bool isBusy() const { return pending_ > 0; }

signals:
    void busyStateChanged(int code);
    // A request has ended; `insertedCount` new rows start at `firstRow` (0 rows: nothing was
    // added). Emitted for every request, so the window can recompute what is enabled.
    void requestFinished(int firstRow, int insertedCount);

private:
    struct Shared;
    void Run();
    void Process(const AddRequest& request);
    PasswordAnswer AskOnGuiThread(const QString& fileName, const QString& typedText);
    void Post(std::function<void()> task);

    // GUI thread.
    void BeginRequest(std::optional<int> index);
    void InsertItem(ImageListItem item);
    void EndRequest();

    FileListModel* model_;
    PasswordPrompt* prompt_;
    std::shared_ptr<Shared> shared_;
    std::thread worker_;
    int pending_ = 0;
    int firstRow_ = 0;
    int nextRow_ = 0;
    int inserted_ = 0;
};

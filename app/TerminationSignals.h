#pragma once

#include <QObject>

#include <vector>

class QSocketNotifier;

// Turns the signals that ask the program to stop (SIGTERM at logout or shutdown, SIGINT from a
// terminal) into a Qt signal delivered by the event loop, where it is safe to stop a run, clean
// up and quit. The handlers only write the signal's number into a socket; one instance at a
// time; the earlier handlers come back when it goes.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the handlers could not be installed (another instance holds them).
    bool isInstalled() const { return notifier_ != nullptr; }

signals:
    void received(int number);

private:
    void Read();

    struct Previous;
    std::vector<Previous> previous_;
    QSocketNotifier* notifier_ = nullptr;
};

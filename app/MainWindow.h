#pragma once

#include <QMainWindow>
#include <QPointer>

class AppDelegate;

// The main window; its delegate decides whether it may close.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(AppDelegate* delegate);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QPointer<AppDelegate> delegate_;
};

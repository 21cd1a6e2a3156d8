#pragma once

#include <QToolBar>

#include <functional>

class QAbstractButton;

// A toolbar whose items are buttons (a toolbar item holding a control) and that enables them the
// way plain menu items are enabled: by asking the window's validator about each item's command.
//
// The rule for one item whose view is a button: a button without a command (no default action)
// is left as it is; one with a command is enabled, unless a validator is set, which then decides.
// The item and its button take the verdict, and so does the command, which also sits in the menus.
class OVXValidatedViewToolbar : public QToolBar {
    Q_OBJECT
public:
    using Validator = std::function<bool(const QAction* command)>;

    using QToolBar::QToolBar;

    void setValidator(Validator validator) { validator_ = std::move(validator); }

    // Applies the rule to every visible item whose view is a button.
    void validateVisibleItems();

    // The rule for one item; `item` may be null (an item known only by its button).
    static void ValidateItem(QAction* item, QAbstractButton* view, const Validator& validator);

private:
    Validator validator_;
};

#include "OVXValidatedViewToolbar.h"

#include <QAbstractButton>
#include <QToolButton>

namespace {
QAction* CommandOf(QAbstractButton* view) {
    auto* tool = qobject_cast<QToolButton*>(view);
    return tool ? tool->defaultAction() : nullptr;
}
}  // namespace

void OVXValidatedViewToolbar::ValidateItem(QAction* item, QAbstractButton* view, const Validator& validator) {
    if (!view) return;
    QAction* command = CommandOf(view);
    if (!command) return;
    const bool verdict = validator ? validator(command) : true;
    if (item) item->setEnabled(verdict);
    command->setEnabled(verdict);
    view->setEnabled(verdict);
}

void OVXValidatedViewToolbar::validateVisibleItems() {
    for (QAction* item : actions()) {
        if (!item->isVisible()) continue;
        auto* view = qobject_cast<QAbstractButton*>(widgetForAction(item));
        // A view that is not placed in the toolbar is not validated.
        if (!view || view->parentWidget() == nullptr) continue;
        ValidateItem(item, view, validator_);
    }
}

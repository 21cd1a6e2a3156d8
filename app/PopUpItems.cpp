#include "PopUpItems.h"

#include <QListView>
#include <QStandardItemModel>

namespace popup {

void AddTaggedItem(QComboBox* box, const QString& title, int tag) { box->addItem(title, tag); }

int IndexOfTag(const QComboBox* box, int tag) { return box->findData(tag); }

int SelectedTag(const QComboBox* box) {
    const QVariant tag = box->currentData();
    return tag.isValid() ? tag.toInt() : -1;
}

bool SelectTag(QComboBox* box, int tag) {
    const int index = IndexOfTag(box, tag);
    if (index < 0) return false;
    box->setCurrentIndex(index);
    return true;
}

void SetTagEnabled(QComboBox* box, int tag, bool enabled) {
    auto* model = qobject_cast<QStandardItemModel*>(box->model());
    const int index = IndexOfTag(box, tag);
    if (model && index >= 0) model->item(index)->setEnabled(enabled);
}

bool IsTagEnabled(const QComboBox* box, int tag) {
    auto* model = qobject_cast<const QStandardItemModel*>(box->model());
    const int index = IndexOfTag(box, tag);
    return model && index >= 0 && model->item(index)->isEnabled();
}

void SetTagHidden(QComboBox* box, int tag, bool hidden) {
    auto* view = qobject_cast<QListView*>(box->view());
    const int index = IndexOfTag(box, tag);
    if (view && index >= 0) view->setRowHidden(index, hidden);
}

}  // namespace popup

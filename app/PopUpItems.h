#pragma once

#include <QComboBox>

// Pop-up menus whose items carry tags (the codes of output types, colour models, units, ...),
// kept in the items' Qt::UserRole.
namespace popup {

void AddTaggedItem(QComboBox* box, const QString& title, int tag);
int IndexOfTag(const QComboBox* box, int tag);
// The tag of the selected item, or -1 when nothing is selected.
int SelectedTag(const QComboBox* box);
// Selects the item with the tag; false (and the selection unchanged) when no item carries it.
bool SelectTag(QComboBox* box, int tag);
void SetTagEnabled(QComboBox* box, int tag, bool enabled);
bool IsTagEnabled(const QComboBox* box, int tag);
void SetTagHidden(QComboBox* box, int tag, bool hidden);

}  // namespace popup

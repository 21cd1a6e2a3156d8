#pragma once

#include "SettingsServices.h"

class QComboBox;

// The items of the settings pop-up menus, each tagged with its code.
namespace settings {

void AddOutputTypeItems(QComboBox* box);  // the menu types of engine/OutputTypes.h, in their places
void AddColorModelItems(QComboBox* box, const Services& services);  // 1 RGB, 2 CMYK, 3 grey
void AddSizeUnitItems(QComboBox* box, const Services& services);    // 2 pixels .. 6 points
void AddModeItems(QComboBox* box, const Services& services);        // 1 convert, 2 extract
void AddPageRangeItems(QComboBox* box, const Services& services);   // 0 all, 1 one page, 2 from-to
// The resolution box's list: 72, 96, 150, 200 (index 3, the box's fallback), 300, 600, 1200.
void AddResolutionItems(QComboBox* box);

}  // namespace settings

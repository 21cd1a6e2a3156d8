#pragma once

#include <QtGlobal>

// Which of the main window's list commands can be used, decided in one place from the list's
// length, the busy code and the number of selected rows. Menu items, context-menu items, toolbar
// buttons and window buttons all take their state from here.

// Busy codes of the busy switch: adding files switches the controls to busy before it starts
// and back to idle when it ends. kNotSwitched is the state before any switch.
inline constexpr int kNotSwitched = 0;
inline constexpr int kBusyCode = 1;
inline constexpr int kIdleCode = 5;

struct EnabledState {
    bool add = false;      // Add Files (menu, context menu, toolbar)
    bool convert = false;  // Convert and Convert All (menu, context menu, toolbar, window buttons)
    bool remove = false;   // Remove, Remove All and Select All
    bool reveal = false;   // Show in File Manager (context menu)

    friend bool operator==(const EnabledState&, const EnabledState&) = default;
};

// While busy (any code other than kNotSwitched and kIdleCode) only the commands that do not
// touch the list stay usable; otherwise Convert and Remove follow the list, and Show in File
// Manager needs exactly one selected row.
EnabledState ComputeEnabledState(qsizetype listSize, int busyCode, qsizetype selectedRows);

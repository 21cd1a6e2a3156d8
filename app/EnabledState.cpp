#include "EnabledState.h"

EnabledState ComputeEnabledState(qsizetype listSize, int busyCode, qsizetype selectedRows) {
    const bool busy = busyCode != kNotSwitched && busyCode != kIdleCode;
    EnabledState state;
    state.add = !busy;
    // The list's own state decides once the switch is back at idle: after an add request that
    // inserted nothing into an empty list, Convert must not be offered for that empty list.
    state.convert = !busy && listSize > 0;
    state.remove = !busy && listSize > 0;
    state.reveal = state.remove && selectedRows == 1;
    return state;
}

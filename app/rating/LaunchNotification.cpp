#include "rating/LaunchNotification.h"

ApplicationLaunchNotification* ApplicationLaunchNotification::center() {
    static ApplicationLaunchNotification notification;
    return &notification;
}

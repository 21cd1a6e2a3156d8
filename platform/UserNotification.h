#pragma once

#include <functional>
#include <string>

// Desktop notifications (the freedesktop.org notification service over the D-Bus session bus).
namespace platform {

// The freedesktop.org sound theme's name for "a message has come in": the closest a desktop has
// to a default notification sound.
inline constexpr const char* kDefaultNotificationSound = "message-new-instant";

struct UserNotification {
    std::string title;
    std::string text;
    std::string soundName;  // empty: no sound asked for
};

// Hands the notification to the desktop from any thread, without waiting for it to be shown.
// No session bus or no notification service means no notification; nothing is reported.
void DeliverUserNotification(const UserNotification& notification);

// Where deliveries go instead of the desktop (tests watch them); an empty function restores the
// desktop.
using UserNotificationSender = std::function<void(const UserNotification&)>;
void SetUserNotificationSender(UserNotificationSender sender);

// Sends the notification call over the bus at `busAddress` (the session bus when empty) without
// waiting for the reply. False when no connection to the bus could be made. A failed connection
// is not kept, so a bus that appears later is found by the next call.
bool SendDesktopNotification(const UserNotification& notification, const std::string& busAddress = {});

}  // namespace platform

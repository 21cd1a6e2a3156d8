// The delegate's part of the store-rating link.

#include "AppDelegate.h"
#include "rating/MacAppStoreRating.h"

void AppDelegate::MakeRateApplicationObject() {
    if (rateApplicationObject) return;
    rateApplicationObject = new MacAppStoreRating(this);
    rateApplicationObject->setObjectName(QStringLiteral("rateApplicationObject"));
}

void AppDelegate::RateApplicationAction(QObject*) {
    if (!rateApplicationObject) return;
    QMetaObject::invokeMethod(rateApplicationObject, &MacAppStoreRating::RateApplicationAction, Qt::QueuedConnection);
}

#include "filelist/PasswordSheet.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

template <typename W>
W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

PasswordSheet::PasswordSheet(QWidget* window, TextLookup text) : QDialog(window), text_(TextsOrKeys(std::move(text))) {
    setObjectName(QStringLiteral("passwordDialogOutlet"));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(text_("PasswordDialogTitle"));

    passwordAlertMsgOutlet = Named(new QLabel(this), "passwordAlertMsgOutlet");
    passwordAlertMsgOutlet->setWordWrap(true);
    passwordAlertMsgOutlet->setTextFormat(Qt::PlainText);
    passwordDialogTextFieldOutlet = Named(new QLineEdit(this), "passwordDialogTextFieldOutlet");
    passwordDialogTextFieldOutlet->setEchoMode(QLineEdit::Password);
    passwordApplyAllCheckButtonOutlet = Named(new QCheckBox(text_("PasswordApplyToAllTitle"), this),
                                              "passwordApplyAllCheckButtonOutlet");

    auto* buttons = new QDialogButtonBox(this);
    passwordOkayButtonOutlet = Named(buttons->addButton(text_("OkButtonString"), QDialogButtonBox::AcceptRole),
                                     "passwordOkayButtonOutlet");
    passwordSkipButtonOutlet = Named(buttons->addButton(text_("PasswordSkipButtonTitle"), QDialogButtonBox::ActionRole),
                                     "passwordSkipButtonOutlet");
    passwordCancelButtonOutlet = Named(buttons->addButton(text_("CancelTitle"), QDialogButtonBox::RejectRole),
                                       "passwordCancelButtonOutlet");
    passwordOkayButtonOutlet->setDefault(true);
    passwordOkayButtonOutlet->setAutoDefault(true);
    passwordSkipButtonOutlet->setAutoDefault(false);
    passwordCancelButtonOutlet->setAutoDefault(false);

    connect(passwordOkayButtonOutlet, &QPushButton::clicked, this, [this] { PasswordButtonAction(PasswordAnswer::Button::OK); });
    connect(passwordSkipButtonOutlet, &QPushButton::clicked, this, [this] { PasswordButtonAction(PasswordAnswer::Button::Skip); });
    connect(passwordCancelButtonOutlet, &QPushButton::clicked, this, [this] { PasswordButtonAction(PasswordAnswer::Button::Cancel); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(passwordAlertMsgOutlet);
    layout->addWidget(passwordDialogTextFieldOutlet);
    layout->addWidget(passwordApplyAllCheckButtonOutlet);
    layout->addWidget(buttons);
}

PasswordSheet::~PasswordSheet() {
    // A question still open when the window goes: the adding thread is told Cancel.
    if (pending_) {
        auto done = std::move(pending_);
        pending_ = nullptr;
        done(PasswordAnswer{PasswordAnswer::Button::Cancel, false, {}});
    }
}

void PasswordSheet::Ask(const QString& fileName, const QString& typedText,
                        std::function<void(const PasswordAnswer&)> done) {
    if (pending_) {
        // Only one question at a time; an earlier one still open is answered as cancelled.
        auto earlier = std::move(pending_);
        earlier(PasswordAnswer{PasswordAnswer::Button::Cancel, false, {}});
    }
    pending_ = std::move(done);
    passwordAlertMsgOutlet->setText(FormatText(text_, "PasswordAlertMsg", fileName));
    passwordDialogTextFieldOutlet->setText(typedText);
    passwordDialogTextFieldOutlet->selectAll();
    passwordDialogTextFieldOutlet->setFocus();
    open();
}

void PasswordSheet::reject() { PasswordButtonAction(PasswordAnswer::Button::Cancel); }

void PasswordSheet::PasswordButtonAction(PasswordAnswer::Button button) {
    PasswordAnswer answer{button, passwordApplyAllCheckButtonOutlet->isChecked(), passwordDialogTextFieldOutlet->text()};
    auto done = std::move(pending_);
    pending_ = nullptr;
    QDialog::done(button == PasswordAnswer::Button::OK ? QDialog::Accepted : QDialog::Rejected);
    if (done) done(answer);
}

#include "ui/accuracy_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "geo/validity.h"
#include "i18n/string_table.h"
#include "ui/profile.h"

namespace dorvane {
namespace {

/// The profile key of the receiver's accuracy, in metres.
constexpr const char* kAccuracyKey = "receiverAccuracy_m";

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

std::optional<double> ParseReceiverAccuracy(const QString& text) {
    QString t = text.trimmed();
    // A decimal comma is what many users type; there are no thousands here.
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v <= 0 || v > kMaxReceiverAccuracy_m) return std::nullopt;
    return v;
}

QString AccuracyText(double metres) {
    return QString::number(metres, 'g', 15);
}

double ReceiverAccuracySetting() {
    const QVariant v = ProfileSettings().value(QString::fromLatin1(kAccuracyKey));
    if (!v.isValid()) return geo::kDefaultReceiverAccuracy_m;
    // The profile is a text file a user may edit: what it holds is checked as typed input is.
    return ParseReceiverAccuracy(v.toString()).value_or(geo::kDefaultReceiverAccuracy_m);
}

void SaveReceiverAccuracySetting(double metres) {
    ProfileSettings().setValue(QString::fromLatin1(kAccuracyKey), AccuracyText(metres));
}

CAccuracyDialog::CAccuracyDialog(double now, QWidget* parent) : QDialog(parent), chosen_(now) {
    setObjectName(QStringLiteral("accuracyDialog"));
    setWindowTitle(Q(Text(StringId::RES_FIELD_ACCURACY_TITLE)));
    auto* layout = new QVBoxLayout(this);
    auto* prompt = new QLabel(
        Q(FormatText(StringId::RES_FIELD_ACCURACY_PROMPT,
                     AccuracyText(geo::kDefaultReceiverAccuracy_m).toStdString().c_str())),
        this);
    prompt->setWordWrap(true);
    edit_ = new QLineEdit(AccuracyText(now), this);
    edit_->setObjectName(QStringLiteral("accuracyEdit"));
    edit_->selectAll();
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("accuracyProblem"));
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #b00000"));
    problem_->hide();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(Q(Text(StringId::RES_CABOUTDLG_BTN_OK)));
    buttons->button(QDialogButtonBox::Cancel)->setText(Q(Text(StringId::RES_CTRANSWAIT_CANCEL)));
    connect(buttons, &QDialogButtonBox::accepted, this, &CAccuracyDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(prompt);
    layout->addWidget(edit_);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
    // The typed value is checked anew once it changes: the old complaint goes.
    connect(edit_, &QLineEdit::textEdited, problem_, &QLabel::hide);
}

void CAccuracyDialog::accept() {
    const auto v = ParseReceiverAccuracy(edit_->text());
    if (!v) {
        problem_->setText(Q(FormatText(StringId::RES_FIELD_ACCURACY_BAD,
                                       edit_->text().trimmed().toStdString().c_str(),
                                       AccuracyText(kMaxReceiverAccuracy_m).toStdString().c_str())));
        problem_->show();
        edit_->setFocus();
        edit_->selectAll();
        return;
    }
    chosen_ = *v;
    QDialog::accept();
}

}  // namespace dorvane

#include "ui/bill_settings_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "ui/ui_text.h"

namespace dorvane {

using ui_text::Q;
using ui_text::T;

CBillSettingsDialog::CBillSettingsDialog(const book::BillSettings& now, book::AreaBasis basis, QWidget* parent)
    : QDialog(parent), chosen_(now), basis_(basis) {
    setObjectName(QStringLiteral("billSettingsDialog"));
    setWindowTitle(T(StringId::RES_BOOKWIN_BILL_SETTINGS_TITLE));
    auto* form = new QFormLayout;
    const struct {
        StringId label;
        const char* name;
        const std::string& value;
    } rows[kFieldCount] = {{StringId::RES_BOOKWIN_PAYEE, "sellerName", now.sellerName},
                           {StringId::RES_BILL_ADDRESS, "sellerAddress", now.sellerAddress},
                           {StringId::RES_BILL_PHONE, "sellerPhone", now.sellerPhone},
                           {StringId::RES_BOOKWIN_CURRENCY, "currency", now.currency}};
    for (int i = 0; i < kFieldCount; ++i) {
        labels_[i] = new QLabel(T(rows[i].label), this);
        edits_[i] = new QLineEdit(Q(rows[i].value), this);
        edits_[i]->setObjectName(QLatin1String(rows[i].name));
        // What bill.conf holds at most: typing stops there rather than being refused after.
        edits_[i]->setMaxLength(static_cast<int>(book::kMaxBillSettingBytes));
        form->addRow(labels_[i], edits_[i]);
    }
    basisCombo_ = new QComboBox(this);
    basisCombo_->setObjectName(QStringLiteral("billBasis"));
    // In the order of book::AreaBasis.
    basisCombo_->addItem(T(StringId::RES_BILL_BASIS_WGS84));
    basisCombo_->addItem(T(StringId::RES_BILL_BASIS_HANDHELD));
    basisCombo_->setCurrentIndex(static_cast<int>(basis));
    basisCombo_->setToolTip(T(StringId::RES_BOOKWIN_BASIS_TIP));
    form->addRow(new QLabel(T(StringId::RES_BILL_BASIS), this), basisCombo_);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("billSettingsProblem"));
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #b00020;"));
    problem_->hide();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
    // Wide enough for an address without scrolling inside the field.
    setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('M')) * 36);
}

void CBillSettingsDialog::accept() {
    book::BillSettings s = chosen_;
    std::string* values[kFieldCount] = {&s.sellerName, &s.sellerAddress, &s.sellerPhone, &s.currency};
    for (int i = 0; i < kFieldCount; ++i) {
        const std::string v = edits_[i]->text().trimmed().toStdString();
        // A QString is always UTF-8 here: what bill.conf can refuse is the length
        // (in bytes, as a Chinese character takes three) and a pasted tab.
        if (!book::BillSettingProblem(v).empty()) {
            const std::string why = v.size() > book::kMaxBillSettingBytes
                                        ? FormatText(StringId::RES_BOOKWIN_SETTING_TOO_LONG,
                                                     static_cast<int>(book::kMaxBillSettingBytes))
                                        : Text(StringId::RES_BOOKWIN_SETTING_CONTROL);
            problem_->setText(labels_[i]->text() + QStringLiteral(": ") + Q(why));
            problem_->show();
            edits_[i]->setFocus();
            edits_[i]->selectAll();
            return;
        }
        *values[i] = v;
    }
    chosen_ = std::move(s);
    basis_ = static_cast<book::AreaBasis>(std::max(basisCombo_->currentIndex(), 0));
    QDialog::accept();
}

}  // namespace dorvane

#pragma once
// The bill settings from the Book window: what every bill states besides its
// lines (the payee's name, address and phone, the currency symbol; kept per
// user in bill.conf) and the book's area basis (kept in the book, so every
// program on it bills alike). The dialog only edits values: the window reads
// and writes them on its book worker. A value bill.conf cannot hold (not
// UTF-8 text, a control character, too long) is refused in the dialog, which
// stays open and names the field. GUI thread only.

#include <QDialog>

#include "book/bill_settings.h"
#include "book/book_types.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace dorvane {

class CBillSettingsDialog : public QDialog {
public:
    CBillSettingsDialog(const book::BillSettings& now, book::AreaBasis basis, QWidget* parent = nullptr);

    /// The settings as typed (valid after Accepted); lines of keys this
    /// Dorvane does not know are those it was given.
    const book::BillSettings& Chosen() const { return chosen_; }
    book::AreaBasis ChosenBasis() const { return basis_; }
    /// Says why a value was refused (hidden until one is).
    QLabel* Problem() const { return problem_; }

    void accept() override;

private:
    enum Field { kName, kAddress, kPhone, kCurrency, kFieldCount };
    book::BillSettings chosen_;
    book::AreaBasis basis_;
    QLineEdit* edits_[kFieldCount] = {};
    QLabel* labels_[kFieldCount] = {};
    QComboBox* basisCombo_ = nullptr;
    QLabel* problem_ = nullptr;
};

}  // namespace dorvane

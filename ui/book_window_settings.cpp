// The Book window's bill settings: the payee every bill names and the area
// it bills by. bill.conf is the user's, the area basis the book's; both are
// read and written on the book's worker, never the GUI thread.
#include <QPointer>

#include "book/bill_settings.h"
#include "ui/bill_settings_dialog.h"
#include "ui/book_service.h"
#include "ui/book_window.h"
#include "ui/ui_text.h"

namespace dorvane {

using ui_text::T;

void CBookWindow::EditBillSettings() {
    ++waiting_;
    QPointer<CBookWindow> self(this);
    service_.Post([self](BookAccess& a) -> CBookService::Answer {
        auto now = std::make_shared<book::BillSettings>();
        book::AreaBasis basis = book::AreaBasis::kWgs84;
        const bool open = a.store != nullptr;
        // A bill.conf that cannot be read is refused, not shown as the
        // defaults: saving those would replace what the user wrote.
        book::BookStatus st = book::LoadBillSettings(book::DefaultBillSettingsPath(), *now);
        if (st.ok()) st = open ? a.store->GetAreaBasis(basis) : a.opened;
        const std::string where = a.location;
        return [self, now, basis, st, open, where] {
            if (!self) return;
            --self->waiting_;
            if (!st.ok()) return self->Say(Refusal(st, open, where), true);
            self->ShowBillSettings(*now, basis);
        };
    });
}

void CBookWindow::ShowBillSettings(const book::BillSettings& now, book::AreaBasis basis) {
    auto* dlg = new CBillSettingsDialog(now, basis, this);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    connect(dlg, &QDialog::accepted, this, [this, dlg, before = basis] {
        const book::BillSettings chosen = dlg->Chosen();
        const book::AreaBasis after = dlg->ChosenBasis();
        Write([chosen, before, after](book::BookStore& store, Done& done) {
            done = [] { return T(StringId::RES_BOOKWIN_SETTINGS_SAVED); };
            if (auto st = book::SaveBillSettings(book::DefaultBillSettingsPath(), chosen); !st.ok()) return st;
            // Another program may bill from this book: its setting is only
            // written when it was changed here.
            return after == before ? book::BookStatus::Ok() : store.SetAreaBasis(after);
        });
    });
    // Window-modal and not waiting: the book's answers keep arriving meanwhile.
    dlg->open();
}

}  // namespace dorvane

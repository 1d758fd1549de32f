// The Book window's customers, bills and season tabs (ui/book_window.h).
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QBuffer>
#include <QDesktopServices>
#include <QDir>
#include <QPdfWriter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QStandardPaths>
#include <QUrl>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "book/bill_print.h"
#include "book/money.h"
#include "report/output_file.h"
#include "report_pdf/bill_pdf.h"
#include "report_pdf/bill_render.h"
#include "ui/busy_work.h"
#include "i18n/string_table.h"
#include "ui/book_jobs_model.h"
#include "ui/book_service.h"
#include "ui/book_window.h"
#include "ui/ui_text.h"

namespace dorvane {

namespace {

using ui_text::Q;
using ui_text::T;

/// Customers: name, village, phone, notes, then a default price per work type.
constexpr int kCustomerFixedColumns = 4;
enum class BillColumn { kNumber, kCustomer, kDate, kTotal, kPaid, kOutstanding, kStatus };
constexpr int kBillColumnCount = 7;
enum class SeasonColumn { kCustomer, kJobs, kAreaMu, kBilled, kPaid, kOutstanding };
constexpr int kSeasonColumnCount = 6;
/// Resolution of the bill PDF opened from the window: the same as the
/// command line's bill PDF, so both files are alike.
constexpr int kBillPdfDpi = 300;

QTableWidget* NewTable(QWidget* parent, const QString& name, int columns) {
    auto* t = new QTableWidget(0, columns, parent);
    t->setObjectName(name);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

QTableWidgetItem* Cell(const QString& text, bool number = false) {
    auto* item = new QTableWidgetItem(text);
    if (number) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

QString Money(book::Fen fen) {
    return Q(book::FormatMoney(fen));
}

QString BillStatusText(const book::Bill& b) {
    switch (b.status) {
        case book::BillStatus::kIssued:
            return T(b.paidFen > 0 ? StringId::RES_BOOKWIN_STATUS_PART_PAID : StringId::RES_BOOKWIN_STATUS_BILLED);
        case book::BillStatus::kPaid: return T(StringId::RES_BOOKWIN_STATUS_PAID);
        case book::BillStatus::kVoid: return T(StringId::RES_BOOKWIN_STATUS_VOID);
    }
    return {};
}

}  // namespace

void CBookWindow::BuildCustomersTab(QWidget* page) {
    customers_ = NewTable(page, QStringLiteral("bookCustomers"), kCustomerFixedColumns + book::kWorkTypeCount);
    auto* form = new QGridLayout;
    QLineEdit** edits[] = {&name_, &customerVillage_, &phone_, &notes_};
    const char* names[] = {"customerName", "customerVillage", "customerPhone", "customerNotes"};
    for (int i = 0; i < 4; ++i) {
        formLabels_[i] = new QLabel(page);
        *edits[i] = new QLineEdit(page);
        (*edits[i])->setObjectName(QLatin1String(names[i]));
        form->addWidget(formLabels_[i], 0, 2 * i);
        form->addWidget(*edits[i], 0, 2 * i + 1);
    }
    for (int w = 0; w < book::kWorkTypeCount; ++w) {
        priceLabels_[w] = new QLabel(page);
        prices_[w] = new QLineEdit(page);
        prices_[w]->setObjectName(QStringLiteral("customerPrice%1").arg(w));
        // Three work types a row, under the four text fields.
        form->addWidget(priceLabels_[w], 1 + w / 3, 2 * (w % 3));
        form->addWidget(prices_[w], 1 + w / 3, 2 * (w % 3) + 1);
    }
    addCustomer_ = new QPushButton(page);
    saveCustomer_ = new QPushButton(page);
    saveCustomer_->setEnabled(false);
    form->addWidget(addCustomer_, 1, 6);
    form->addWidget(saveCustomer_, 1, 7);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(customers_, 1);
    layout->addLayout(form);
    connect(customers_, &QTableWidget::itemSelectionChanged, this, &CBookWindow::CustomerRowChosen);
    connect(addCustomer_, &QPushButton::clicked, this, &CBookWindow::AddCustomer);
    connect(saveCustomer_, &QPushButton::clicked, this, &CBookWindow::SaveCustomer);
}

void CBookWindow::BuildBillsTab(QWidget* page) {
    bills_ = NewTable(page, QStringLiteral("bookBills"), kBillColumnCount);
    amountLabel_ = new QLabel(page);
    payDateLabel_ = new QLabel(page);
    amount_ = new QLineEdit(page);
    amount_->setObjectName(QStringLiteral("payAmount"));
    payDate_ = new QDateEdit(QDate::currentDate(), page);
    payDate_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    payDate_->setCalendarPopup(true);
    pay_ = new QPushButton(page);
    voidBill_ = new QPushButton(page);
    openPdf_ = new QPushButton(page);
    billPictures_ = new QCheckBox(page);
    billPictures_->setObjectName(QStringLiteral("billPictures"));
    print_ = new QPushButton(page);
    auto* row = new QHBoxLayout;
    row->addWidget(openPdf_);
    row->addWidget(billPictures_);
    row->addWidget(print_);
    row->addStretch();
    row->addWidget(amountLabel_);
    row->addWidget(amount_);
    row->addWidget(payDateLabel_);
    row->addWidget(payDate_);
    row->addWidget(pay_);
    row->addSpacing(16);
    row->addWidget(voidBill_);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(bills_, 1);
    layout->addLayout(row);
    connect(pay_, &QPushButton::clicked, this, &CBookWindow::Pay);
    connect(voidBill_, &QPushButton::clicked, this, &CBookWindow::VoidBill);
    connect(openPdf_, &QPushButton::clicked, this, &CBookWindow::OpenBillPdf);
    connect(print_, &QPushButton::clicked, this, &CBookWindow::PrintBill);
}

void CBookWindow::BuildSeasonTab(QWidget* page) {
    seasonDates_ = new QCheckBox(page);
    seasonFromLabel_ = new QLabel(page);
    seasonToLabel_ = new QLabel(page);
    seasonFrom_ = new QDateEdit(QDate(QDate::currentDate().year(), 1, 1), page);
    seasonTo_ = new QDateEdit(QDate::currentDate(), page);
    for (QDateEdit* d : {seasonFrom_, seasonTo_}) {
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setCalendarPopup(true);
        d->setEnabled(false);
    }
    seasonRefresh_ = new QPushButton(page);
    season_ = NewTable(page, QStringLiteral("bookSeason"), kSeasonColumnCount);
    auto* row = new QHBoxLayout;
    row->addWidget(seasonDates_);
    row->addWidget(seasonFromLabel_);
    row->addWidget(seasonFrom_);
    row->addWidget(seasonToLabel_);
    row->addWidget(seasonTo_);
    row->addWidget(seasonRefresh_);
    row->addStretch();
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(row);
    layout->addWidget(season_, 1);
    connect(seasonDates_, &QCheckBox::toggled, this, [this](bool on) {
        seasonFrom_->setEnabled(on);
        seasonTo_->setEnabled(on);
        QuerySeason();
    });
    connect(seasonFrom_, &QDateEdit::dateChanged, this, [this] { QuerySeason(); });
    connect(seasonTo_, &QDateEdit::dateChanged, this, [this] { QuerySeason(); });
    connect(seasonRefresh_, &QPushButton::clicked, this, [this] { QuerySeason(); });
}

void CBookWindow::RetranslateTabs() {
    QStringList heads{T(StringId::RES_BOOKWIN_NAME), T(StringId::RES_BOOKWIN_VILLAGE), T(StringId::RES_BOOKWIN_PHONE),
                      T(StringId::RES_BOOKWIN_NOTES)};
    for (int w = 0; w < book::kWorkTypeCount; ++w) {
        const QString work = WorkTypeText(static_cast<book::WorkType>(w));
        heads << work;
        priceLabels_[w]->setText(work);
    }
    customers_->setHorizontalHeaderLabels(heads);
    for (int i = 0; i < 4; ++i) formLabels_[i]->setText(heads[i]);
    addCustomer_->setText(T(StringId::RES_BOOKWIN_ADD_CUSTOMER));
    saveCustomer_->setText(T(StringId::RES_BOOKWIN_SAVE_CUSTOMER));
    bills_->setHorizontalHeaderLabels({T(StringId::RES_BOOKWIN_COL_NUMBER), T(StringId::RES_BOOKWIN_CUSTOMER),
                                       T(StringId::RES_BOOKWIN_COL_DATE), T(StringId::RES_BOOKWIN_COL_TOTAL),
                                       T(StringId::RES_BOOKWIN_COL_PAID), T(StringId::RES_BOOKWIN_COL_OUTSTANDING),
                                       T(StringId::RES_BOOKWIN_STATUS)});
    amountLabel_->setText(T(StringId::RES_BOOKWIN_AMOUNT));
    payDateLabel_->setText(T(StringId::RES_BOOKWIN_DATE));
    pay_->setText(T(StringId::RES_BOOKWIN_PAY));
    voidBill_->setText(T(StringId::RES_BOOKWIN_VOID));
    openPdf_->setText(T(StringId::RES_BOOKWIN_OPEN_PDF));
    billPictures_->setText(T(StringId::RES_BOOKWIN_WITH_MAPS));
    print_->setText(T(StringId::RES_BOOKWIN_PRINT));
    seasonDates_->setText(T(StringId::RES_BOOKWIN_DATES));
    seasonFromLabel_->setText(T(StringId::RES_BOOKWIN_FROM));
    seasonToLabel_->setText(T(StringId::RES_BOOKWIN_TO));
    seasonRefresh_->setText(T(StringId::RES_BOOKWIN_REFRESH));
    season_->setHorizontalHeaderLabels({T(StringId::RES_BOOKWIN_CUSTOMER), T(StringId::RES_BOOKWIN_COL_JOBS),
                                        T(StringId::RES_BOOKWIN_COL_AREA_MU), T(StringId::RES_BOOKWIN_COL_TOTAL),
                                        T(StringId::RES_BOOKWIN_COL_PAID), T(StringId::RES_BOOKWIN_COL_OUTSTANDING)});
    FillCustomers();
    FillBills();
    FillSeason();
}

void CBookWindow::QueryCustomers() {
    ++waiting_;
    QPointer<CBookWindow> self(this);
    service_.Post([self](BookAccess& a) -> CBookService::Answer {
        auto list = std::make_shared<std::vector<book::Customer>>();
        const book::BookStatus st = a.store ? a.store->ListCustomers(*list) : a.opened;
        return [self, list, st] {
            if (!self) return;
            --self->waiting_;
            if (!st.ok()) return;  // the jobs' answer says why
            self->customerList_ = std::move(*list);
            for (const book::Customer& c : self->customerList_)
                if (!c.village.empty()) self->villages_.insert(Q(c.village));
            self->FillCustomerChoices();
            self->FillVillageChoices();
            self->FillCustomers();
        };
    });
}

void CBookWindow::QueryBills() {
    ++waiting_;
    QPointer<CBookWindow> self(this);
    service_.Post([self](BookAccess& a) -> CBookService::Answer {
        auto list = std::make_shared<std::vector<book::Bill>>();
        const book::BookStatus st = a.store ? a.store->ListBills("", *list) : a.opened;
        return [self, list, st] {
            if (!self) return;
            --self->waiting_;
            if (!st.ok()) return;
            self->billList_ = std::move(*list);
            self->FillBills();
        };
    });
}

void CBookWindow::QuerySeason() {
    book::DateRange range;
    if (seasonDates_->isChecked()) {
        range.from = seasonFrom_->date().toString(Qt::ISODate).toStdString();
        range.to = seasonTo_->date().toString(Qt::ISODate).toStdString();
    }
    ++waiting_;
    QPointer<CBookWindow> self(this);
    service_.Post([self, range](BookAccess& a) -> CBookService::Answer {
        auto figures = std::make_shared<book::SeasonFigures>();
        const book::BookStatus st = a.store ? a.store->Season(range, *figures) : a.opened;
        return [self, figures, st] {
            if (!self) return;
            --self->waiting_;
            if (!st.ok()) return;
            self->figures_ = std::move(*figures);
            self->FillSeason();
        };
    });
}

void CBookWindow::FillCustomerChoices() {
    // The filter: (any), (unassigned), the names; the assignment: (unassigned), the names.
    const QString filterWas = customer_->currentIndex() > kUnassignedIndex ? customer_->currentText() : QString();
    const int filterAt = std::min(std::max(customer_->currentIndex(), 0), kUnassignedIndex);
    const QString assignWas = assignTo_->currentText();
    const QSignalBlocker a(customer_), b(assignTo_);
    customer_->clear();
    assignTo_->clear();
    customer_->addItem(T(StringId::RES_BOOKWIN_ANY));
    customer_->addItem(T(StringId::RES_BOOKWIN_UNASSIGNED));
    assignTo_->addItem(T(StringId::RES_BOOKWIN_UNASSIGNED));
    for (const book::Customer& c : customerList_) {
        customer_->addItem(Q(c.name));
        assignTo_->addItem(Q(c.name));
    }
    const int found = filterWas.isEmpty() ? -1 : customer_->findText(filterWas);
    customer_->setCurrentIndex(found >= 0 ? found : filterAt);
    assignTo_->setCurrentIndex(std::max(assignTo_->findText(assignWas), customerList_.empty() ? 0 : 1));
}

void CBookWindow::FillVillageChoices() {
    const QString was = village_->currentIndex() > kAnyIndex ? village_->currentText() : QString();
    const QSignalBlocker block(village_);
    village_->clear();
    village_->addItem(T(StringId::RES_BOOKWIN_ANY));
    for (const QString& v : villages_) village_->addItem(v);
    village_->setCurrentIndex(was.isEmpty() ? kAnyIndex : std::max(village_->findText(was), kAnyIndex));
}

void CBookWindow::FillCustomers() {
    customers_->setRowCount(static_cast<int>(customerList_.size()));
    for (int r = 0; r < customers_->rowCount(); ++r) {
        const book::Customer& c = customerList_[static_cast<std::size_t>(r)];
        customers_->setItem(r, 0, Cell(Q(c.name)));
        customers_->setItem(r, 1, Cell(Q(c.village)));
        customers_->setItem(r, 2, Cell(Q(c.phone)));
        customers_->setItem(r, 3, Cell(Q(c.notes)));
        for (int w = 0; w < book::kWorkTypeCount; ++w) {
            const auto& p = c.defaultPriceFen[static_cast<std::size_t>(w)];
            customers_->setItem(r, kCustomerFixedColumns + w, Cell(p ? Money(*p) : QString(), true));
        }
    }
    if (!editing_.isEmpty()) {
        const auto rows = customers_->findItems(editing_, Qt::MatchExactly);
        if (rows.isEmpty()) editing_.clear();
    }
}

void CBookWindow::CustomerRowChosen() {
    const auto rows = customers_->selectionModel()->selectedRows();
    if (rows.size() != 1 || rows.front().row() >= static_cast<int>(customerList_.size())) {
        editing_.clear();
        saveCustomer_->setEnabled(false);
        return;
    }
    const book::Customer& c = customerList_[static_cast<std::size_t>(rows.front().row())];
    editing_ = Q(c.name);
    name_->setText(Q(c.name));
    customerVillage_->setText(Q(c.village));
    phone_->setText(Q(c.phone));
    notes_->setText(Q(c.notes));
    for (int w = 0; w < book::kWorkTypeCount; ++w) {
        const auto& p = c.defaultPriceFen[static_cast<std::size_t>(w)];
        prices_[w]->setText(p ? Money(*p) : QString());
    }
    saveCustomer_->setEnabled(true);
}

void CBookWindow::AddCustomer() {
    book::Customer c;
    c.name = name_->text().trimmed().toStdString();
    if (c.name.empty()) return Say(T(StringId::RES_BOOKWIN_BAD_NAME), true);
    c.village = customerVillage_->text().trimmed().toStdString();
    c.phone = phone_->text().trimmed().toStdString();
    c.notes = notes_->text().trimmed().toStdString();
    for (int w = 0; w < book::kWorkTypeCount; ++w) {
        const QString text = prices_[w]->text().trimmed();
        if (text.isEmpty()) continue;
        const auto fen = book::ParseMoney(text.toStdString());
        if (!fen)
            return Say(Q(FormatText(StringId::RES_BOOK_BAD_VALUE, priceLabels_[w]->text().toStdString().c_str(),
                                    text.toStdString().c_str())),
                       true);
        c.defaultPriceFen[static_cast<std::size_t>(w)] = *fen;
    }
    Write([c](book::BookStore& s, Done& done) {
        book::CustomerId id = 0;
        done = [name = c.name] { return Q(FormatText(StringId::RES_BOOK_CUSTOMER_ADDED, name.c_str())); };
        return s.AddCustomer(c, id);
    });
}

void CBookWindow::SaveCustomer() {
    if (editing_.isEmpty()) return;
    book::CustomerChange change;
    const std::string name = name_->text().trimmed().toStdString();
    if (name.empty()) return Say(T(StringId::RES_BOOKWIN_BAD_NAME), true);
    change.name = name;
    change.village = customerVillage_->text().trimmed().toStdString();
    change.phone = phone_->text().trimmed().toStdString();
    change.notes = notes_->text().trimmed().toStdString();
    for (int w = 0; w < book::kWorkTypeCount; ++w) {
        const QString text = prices_[w]->text().trimmed();
        std::optional<book::Fen> fen;
        if (!text.isEmpty()) {
            fen = book::ParseMoney(text.toStdString());
            if (!fen)
                return Say(Q(FormatText(StringId::RES_BOOK_BAD_VALUE, priceLabels_[w]->text().toStdString().c_str(),
                                        text.toStdString().c_str())),
                           true);
        }
        change.prices.emplace_back(static_cast<book::WorkType>(w), fen);
    }
    const std::string was = editing_.toStdString();
    editing_ = Q(name);
    Write([was, change, name](book::BookStore& s, Done& done) {
        done = [name] { return Q(FormatText(StringId::RES_BOOK_CUSTOMER_CHANGED, name.c_str())); };
        return s.ChangeCustomer(was, change);
    });
}

void CBookWindow::FillBills() {
    bills_->setRowCount(static_cast<int>(billList_.size()));
    // Newest first: the bill just issued is the one on top.
    for (int r = 0; r < bills_->rowCount(); ++r) {
        const book::Bill& b = billList_[billList_.size() - 1 - static_cast<std::size_t>(r)];
        bills_->setItem(r, static_cast<int>(BillColumn::kNumber), Cell(Q(b.number)));
        bills_->setItem(r, static_cast<int>(BillColumn::kCustomer), Cell(Q(b.customer)));
        bills_->setItem(r, static_cast<int>(BillColumn::kDate), Cell(Q(b.date)));
        bills_->setItem(r, static_cast<int>(BillColumn::kTotal), Cell(Money(b.totalFen), true));
        bills_->setItem(r, static_cast<int>(BillColumn::kPaid), Cell(Money(b.paidFen), true));
        bills_->setItem(r, static_cast<int>(BillColumn::kOutstanding), Cell(Money(b.OutstandingFen()), true));
        bills_->setItem(r, static_cast<int>(BillColumn::kStatus), Cell(BillStatusText(b)));
    }
}

void CBookWindow::Pay() {
    const auto rows = bills_->selectionModel()->selectedRows();
    if (rows.size() != 1) return Say(T(StringId::RES_BOOKWIN_NO_BILL), true);
    const QString number = bills_->item(rows.front().row(), static_cast<int>(BillColumn::kNumber))->text();
    const auto fen = book::ParseMoney(amount_->text().trimmed().toStdString());
    if (!fen || *fen <= 0)
        return Say(Q(FormatText(StringId::RES_BOOK_BAD_VALUE, Text(StringId::RES_BOOKWIN_AMOUNT).c_str(),
                                amount_->text().toStdString().c_str())),
                   true);
    book::PaymentRequest request;
    request.bill = number.toStdString();
    request.amountFen = *fen;
    request.date = payDate_->date().toString(Qt::ISODate).toStdString();
    amount_->clear();
    Write([request](book::BookStore& s, Done& done) {
        book::Payment payment;
        const book::BookStatus st = s.Pay(request, payment);
        book::Bill bill;
        if (st.ok() && s.GetBill(*request.bill, bill).ok()) {
            done = [amount = request.amountFen, number = bill.number, left = bill.OutstandingFen()] {
                return Q(FormatText(StringId::RES_BOOK_PAID, book::FormatMoney(amount).c_str(), number.c_str(),
                                    book::FormatMoney(left).c_str()));
            };
        }
        return st;
    });
}

void CBookWindow::VoidBill() {
    const auto rows = bills_->selectionModel()->selectedRows();
    if (rows.size() != 1) return Say(T(StringId::RES_BOOKWIN_NO_BILL), true);
    const std::string number =
        bills_->item(rows.front().row(), static_cast<int>(BillColumn::kNumber))->text().toStdString();
    const QString ask = Q(FormatText(StringId::RES_BOOKWIN_VOID_ASK, number.c_str()));
    const int answer = messageBox_ ? messageBox_(QMessageBox::Question, ask, QMessageBox::Yes | QMessageBox::No)
                                   : QMessageBox::question(this, windowTitle(), ask);
    if (answer != QMessageBox::Yes) return;
    Write([number](book::BookStore& s, Done& done) {
        done = [number] { return Q(FormatText(StringId::RES_BOOK_VOIDED, number.c_str())); };
        return s.VoidBill(number, book::Today());
    });
}

void CBookWindow::WithBillPrint(std::function<void(const book::BillPrint&)> use) {
    const auto rows = bills_->selectionModel()->selectedRows();
    if (rows.size() != 1) return Say(T(StringId::RES_BOOKWIN_NO_BILL), true);
    const std::string number =
        bills_->item(rows.front().row(), static_cast<int>(BillColumn::kNumber))->text().toStdString();
    ++waiting_;
    QPointer<CBookWindow> self(this);
    // The settings file and the book are read on the worker; `use` paints on
    // this thread, where QPainter and the fonts live.
    service_.Post([self, number, use](BookAccess& a) -> CBookService::Answer {
        auto print = std::make_shared<book::BillPrint>();
        book::BookStatus st = a.opened;
        const bool open = a.store != nullptr;
        if (open) {
            book::BillSettings seller;
            st = book::LoadBillSettings(book::DefaultBillSettingsPath(), seller);
            if (st.ok()) st = book::LoadBillPrint(*a.store, number, seller, *print);
        }
        const std::string where = a.location;
        return [self, st, print, use, open, where] {
            if (!self) return;
            --self->waiting_;
            if (!st.ok()) return self->Say(Refusal(st, open, where), true);
            use(*print);
        };
    });
}

// One file per bill: opening it again shows the bill as it is now (its
// payments), replacing the earlier copy.
static std::string BillPdfPath(const QString& billFolder, const std::string& number) {
    const QString folder =
        billFolder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::TempLocation) : billFolder;
    return QDir(folder).filePath(QStringLiteral("bill-%1.pdf").arg(Q(number))).toStdString();
}

void CBookWindow::ShowBillPdf(const std::string& number, const std::string& out) {
    Say(Q(FormatText(StringId::RES_BOOKWIN_PDF_WRITTEN, number.c_str(), out.c_str())));
    const QUrl url = QUrl::fromLocalFile(Q(out));
    if (openUrl_)
        openUrl_(url);
    else if (!QDesktopServices::openUrl(url))
        // Without a PDF viewer or a desktop Qt only warns on stderr: the
        // user is told where the file is and that nothing opened it.
        Say(Q(FormatText(StringId::RES_BOOKWIN_PDF_WRITTEN, number.c_str(), out.c_str())) + QLatin1Char('\n') +
                Q(FormatText(StringId::RES_GUI_OPEN_FAILED, out.c_str())),
            true);
}

void CBookWindow::OpenBillPdfWithPictures(bool picturePages) {
    const auto rows = bills_->selectionModel()->selectedRows();
    if (rows.size() != 1) return Say(T(StringId::RES_BOOKWIN_NO_BILL), true);
    const std::string number =
        bills_->item(rows.front().row(), static_cast<int>(BillColumn::kNumber))->text().toStdString();
    ++waiting_;
    QPointer<CBookWindow> self(this);
    service_.Post([self, number, picturePages](BookAccess& a) -> CBookService::Answer {
        auto print = std::make_shared<book::BillPrint>();
        auto pictures = std::make_shared<std::vector<book::BillPicture>>();
        book::BookStatus st = a.opened;
        const bool open = a.store != nullptr;
        if (open) {
            book::BillSettings seller;
            st = book::LoadBillSettings(book::DefaultBillSettingsPath(), seller);
            if (st.ok()) st = book::LoadBillPrint(*a.store, number, seller, *print);
            if (st.ok()) st = book::LoadBillPictures(*a.store, *print, *pictures);
        }
        const std::string where = a.location;
        return [self, st, print, pictures, open, where, picturePages] {
            if (!self) return;
            --self->waiting_;
            if (!st.ok()) return self->Say(Refusal(st, open, where), true);
            if (!picturePages) return self->WriteOverviewPdf(print, pictures);
            // Not inside this answer: the progress box runs its own loop,
            // and the service's next answers must not wait inside it.
            QMetaObject::invokeMethod(
                self.data(), [self, print, pictures] {
                    if (self) self->WritePicturesPdf(print, pictures);
                },
                Qt::QueuedConnection);
        };
    });
}

void CBookWindow::WritePicturesPdf(const std::shared_ptr<book::BillPrint>& print,
                                   const std::shared_ptr<std::vector<book::BillPicture>>& pictures) {
    const std::string number = print->bill.number;
    const std::string out = BillPdfPath(billFolder_, number);
    report::OutputOutcome written;
    report::BillPdfOptions options;
    options.tiles.clear();  // the profile's tile source
    const bool cancelled =
        RunWithProgress(this, Q(FormatText(StringId::RES_BOOKWIN_DRAWING_MAPS, number.c_str())),
                        [&](const ProgressStep& step) {
                            options.progress = step;
                            written = report::WriteBillPdf(*print, *pictures, out, true, options);
                        });
    if (cancelled && !written.ok()) return Say(Q(FormatText(StringId::RES_BOOKWIN_PDF_CANCELLED, number.c_str())));
    if (!written.ok())
        return Say(Q(FormatText(StringId::RES_BOOKWIN_OUTPUT_FAILED, number.c_str(),
                                (out + ": " + written.message).c_str())),
                   true);
    ShowBillPdf(number, out);
}

void CBookWindow::OpenBillPdf() {
    OpenBillPdfWithPictures(billPictures_->isChecked());
}

void CBookWindow::WriteOverviewPdf(const std::shared_ptr<book::BillPrint>& print,
                                   const std::shared_ptr<std::vector<book::BillPicture>>& pictures) {
    const std::string number = print->bill.number;
    // Painted into memory here, written to the file on the worker. The
    // fields' map asks no server (offline): packs and cached tiles only.
    auto pdf = std::make_shared<QByteArray>();
    report::BillRender r = report::BillRender::kCannotPaint;
    {
        QBuffer buffer(pdf.get());
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(kBillPdfDpi);
        writer.setCreator(QStringLiteral("Dorvane"));
        TileSettings tiles = LoadTileSettings();
        tiles.offline = true;
        r = report::RenderBill(*print, *pictures, writer, tiles, {}, false);
    }
    if (r != report::BillRender::kDone)
        return Say(Q(FormatText(StringId::RES_BOOKWIN_OUTPUT_FAILED, number.c_str(), "cannot paint the PDF")), true);
    const std::string out = BillPdfPath(billFolder_, number);
    ++waiting_;
    QPointer<CBookWindow> self(this);
    service_.Post([self, pdf, out, number](BookAccess&) -> CBookService::Answer {
        const report::OutputOutcome written = report::WriteOutputFile(
            out, std::string_view(pdf->constData(), static_cast<std::size_t>(pdf->size())), true);
        return [self, written, out, number] {
            if (!self) return;
            --self->waiting_;
            if (!written.ok())
                return self->Say(Q(FormatText(StringId::RES_BOOKWIN_OUTPUT_FAILED, number.c_str(),
                                              (out + ": " + written.message).c_str())),
                                 true);
            self->ShowBillPdf(number, out);
        };
    });
}

void CBookWindow::PrintBill() {
    WithBillPrint([this](const book::BillPrint& print) {
        const std::string number = print.bill.number;
        QPrinter printer(QPrinter::HighResolution);
        printer.setDocName(Q(number));
        bool go = false;
        if (choosePrinter_) {
            go = choosePrinter_(printer);
        } else {
            QPrintDialog dialog(&printer, this);
            go = dialog.exec() == QDialog::Accepted;
        }
        if (!go) return;
        if (report::RenderBill(print, {}, printer, TileSettings{}) != report::BillRender::kDone)
            return Say(Q(FormatText(StringId::RES_BOOKWIN_OUTPUT_FAILED, number.c_str(), "cannot print")), true);
        Say(Q(FormatText(StringId::RES_BOOKWIN_PRINTED, number.c_str())));
    });
}

void CBookWindow::FillSeason() {
    const auto& per = figures_.customers;
    season_->setRowCount(static_cast<int>(per.size()) + 1);
    auto row = [this](int r, const QString& who, const book::Figures& f) {
        season_->setItem(r, static_cast<int>(SeasonColumn::kCustomer), Cell(who));
        season_->setItem(r, static_cast<int>(SeasonColumn::kJobs), Cell(QString::number(f.jobs), true));
        season_->setItem(r, static_cast<int>(SeasonColumn::kAreaMu), Cell(Q(book::FormatQuantity(f.areaMuE4)), true));
        season_->setItem(r, static_cast<int>(SeasonColumn::kBilled), Cell(Money(f.billedFen), true));
        season_->setItem(r, static_cast<int>(SeasonColumn::kPaid), Cell(Money(f.paidFen), true));
        season_->setItem(r, static_cast<int>(SeasonColumn::kOutstanding), Cell(Money(f.OutstandingFen()), true));
    };
    for (std::size_t i = 0; i < per.size(); ++i)
        row(static_cast<int>(i), per[i].first.empty() ? T(StringId::RES_BOOKWIN_UNASSIGNED) : Q(per[i].first),
            per[i].second);
    const int last = static_cast<int>(per.size());
    row(last, T(StringId::RES_BOOKWIN_OVERALL), figures_.overall);
    QFont bold = season_->font();
    bold.setBold(true);
    for (int c = 0; c < kSeasonColumnCount; ++c) season_->item(last, c)->setFont(bold);
}

}  // namespace dorvane

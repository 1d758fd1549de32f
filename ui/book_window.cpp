#include "ui/book_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "book/book_error_text.h"
#include "book/job_pages.h"
#include "book/job_shapes.h"
#include "book/money.h"
#include "book/open_book.h"
#include "book/pg_store.h"
#include "geo/figures.h"
#include "i18n/string_table.h"
#include "ui/book_adding.h"
#include "ui/book_jobs_model.h"
#include "ui/book_service.h"
#include "ui/overview_widget.h"
#include "ui/ui_text.h"

namespace dorvane {

namespace {

using ui_text::Q;
using ui_text::T;

/// The window's first size: every jobs column readable on a 1280 x 800 screen.
constexpr int kInitialWidth = 1180;
constexpr int kInitialHeight = 640;
/// Lines of detail (files already in the book, files not read) in the status tooltip.
constexpr std::size_t kDetailLines = 20;

}  // namespace

CBookWindow::CBookWindow(CBookService& service, QWidget* parent) : QDialog(parent), service_(service) {
    setObjectName(QStringLiteral("bookWindow"));
    resize(kInitialWidth, kInitialHeight);
    setAcceptDrops(true);
    auto* top = new QHBoxLayout;
    where_ = new QLabel(this);
    where_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    otherBook_ = new QPushButton(this);
    officeBook_ = new QPushButton(this);
    addFiles_ = new QPushButton(this);
    backup_ = new QPushButton(this);
    billSettings_ = new QPushButton(this);
    top->addWidget(where_, 1);
    top->addWidget(addFiles_);
    top->addWidget(backup_);
    top->addWidget(billSettings_);
    top->addWidget(otherBook_);
    top->addWidget(officeBook_);

    tabs_ = new QTabWidget(this);
    auto* jobs = new QWidget(tabs_);
    auto* customers = new QWidget(tabs_);
    auto* bills = new QWidget(tabs_);
    auto* season = new QWidget(tabs_);
    auto* overlaps = new QWidget(tabs_);
    BuildJobsTab(jobs);
    BuildCustomersTab(customers);
    BuildBillsTab(bills);
    BuildSeasonTab(season);
    for (QWidget* w : {jobs, customers, bills, season, overlaps}) tabs_->addTab(w, QString());
    BuildOverlapsTab(overlaps);

    auto* bottom = new QHBoxLayout;
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("bookStatus"));
    status_->setWordWrap(true);
    progress_ = new QProgressBar(this);
    cancel_ = new QPushButton(this);
    close_ = new QPushButton(this);
    bottom->addWidget(status_, 1);
    bottom->addWidget(progress_);
    bottom->addWidget(cancel_);
    bottom->addWidget(close_);
    progress_->hide();
    cancel_->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(tabs_, 1);
    layout->addLayout(bottom);
    for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(false);

    connect(close_, &QPushButton::clicked, this, &QDialog::close);
    connect(cancel_, &QPushButton::clicked, this, [this] { service_.Cancel(); });
    connect(addFiles_, &QPushButton::clicked, this, [this] {
        const QStringList files = QFileDialog::getOpenFileNames(this, T(StringId::RES_BOOKWIN_ADD_FILES));
        if (!files.isEmpty()) AddFiles(files);
    });
    connect(otherBook_, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getSaveFileName(
            this, T(StringId::RES_BOOKWIN_CHOOSE_BOOK), Location(), QStringLiteral("GeoPackage (*.gpkg)"), nullptr,
            QFileDialog::DontConfirmOverwrite);
        if (file.isEmpty()) return;
        SaveBookLocation(file);
        service_.SetLocation(file);
        location_ = file.toStdString();
        villages_.clear();
        opening_ = true;
        where_->setText(Location());
        Say(Q(FormatText(StringId::RES_BOOKWIN_OPENING, file.toStdString().c_str())));
        Reload();
    });
    connect(officeBook_, &QPushButton::clicked, this, &CBookWindow::ChooseOfficeBook);
    connect(backup_, &QPushButton::clicked, this, &CBookWindow::BackUp);
    connect(billSettings_, &QPushButton::clicked, this, &CBookWindow::EditBillSettings);
    service_.SetOnProgress([this](int done, int total) {
        progress_->setRange(0, std::max(total, 1));
        progress_->setValue(done);
        Say(Q(FormatText(StringId::RES_BOOKWIN_READING, std::min(done + 1, total), total)));
    });
    location_ = service_.Location().toStdString();
    Retranslate();
    Say(Q(FormatText(StringId::RES_BOOKWIN_OPENING, Location().toStdString().c_str())));
    Reload();
}

CBookWindow::~CBookWindow() {
    service_.SetOnProgress({});
}

QString CBookWindow::Location() const {
    return Q(location_.empty() ? book::DefaultBookPath().string() : location_);
}

bool CBookWindow::Idle() const {
    return waiting_ == 0 && service_.Idle();
}

void CBookWindow::BuildJobsTab(QWidget* page) {
    auto* filters = new QHBoxLayout;
    customerLabel_ = new QLabel(page);
    villageLabel_ = new QLabel(page);
    workLabel_ = new QLabel(page);
    statusLabel_ = new QLabel(page);
    fromLabel_ = new QLabel(page);
    toLabel_ = new QLabel(page);
    searchLabel_ = new QLabel(page);
    customer_ = new QComboBox(page);
    village_ = new QComboBox(page);
    work_ = new QComboBox(page);
    jobStatus_ = new QComboBox(page);
    dates_ = new QCheckBox(page);
    from_ = new QDateEdit(QDate(QDate::currentDate().year(), 1, 1), page);
    to_ = new QDateEdit(QDate::currentDate(), page);
    for (QDateEdit* d : {from_, to_}) {
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setCalendarPopup(true);
        d->setEnabled(false);
    }
    search_ = new QLineEdit(page);
    search_->setObjectName(QStringLiteral("bookSearch"));
    search_->setClearButtonEnabled(true);
    customer_->setObjectName(QStringLiteral("customerFilter"));
    village_->setObjectName(QStringLiteral("villageFilter"));
    work_->setObjectName(QStringLiteral("workFilter"));
    jobStatus_->setObjectName(QStringLiteral("statusFilter"));
    for (QComboBox* c : {customer_, village_}) c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    filters->addWidget(customerLabel_);
    filters->addWidget(customer_);
    filters->addWidget(villageLabel_);
    filters->addWidget(village_);
    filters->addWidget(workLabel_);
    filters->addWidget(work_);
    filters->addWidget(statusLabel_);
    filters->addWidget(jobStatus_);
    filters->addWidget(dates_);
    filters->addWidget(fromLabel_);
    filters->addWidget(from_);
    filters->addWidget(toLabel_);
    filters->addWidget(to_);
    filters->addWidget(searchLabel_);
    filters->addWidget(search_, 1);

    model_ = new CBookJobModel(this);
    jobsView_ = new QTableView(page);
    jobsView_->setObjectName(QStringLiteral("bookJobs"));
    jobsView_->setModel(model_);
    model_->SetFetch([this](std::size_t offset, std::size_t limit, std::uint64_t generation) {
        FetchJobs(offset, limit, generation);
    });
    model_->SetOnResort([this] { QueryJobs(); });
    jobsView_->setSortingEnabled(true);
    jobsView_->sortByColumn(static_cast<int>(BookJobColumn::kId), Qt::AscendingOrder);
    jobsView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    jobsView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    jobsView_->verticalHeader()->hide();
    jobsView_->setWordWrap(false);  // long file paths are cut, rows keep one line
    jobsView_->horizontalHeader()->setStretchLastSection(true);
    shown_ = new QLabel(page);
    shown_->setObjectName(QStringLiteral("jobsShown"));

    // The jobs listed, on a map above their table.
    auto* mapBar = new QHBoxLayout;
    colourByLabel_ = new QLabel(page);
    colourBy_ = new QComboBox(page);
    colourBy_->setObjectName(QStringLiteral("bookMapColour"));
    colourBy_->addItems({QString(), QString()});
    mapBar->addWidget(colourByLabel_);
    mapBar->addWidget(colourBy_);
    mapBar->addStretch(1);
    overview_ = new COverviewWidget(page);
    overview_->setObjectName(QStringLiteral("bookOverview"));
    overview_->SetOnPick([this](int field) { SelectField(field); });

    auto* actions = new QHBoxLayout;
    assignTo_ = new QComboBox(page);
    assignTo_->setObjectName(QStringLiteral("assignTo"));
    assignTo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    assign_ = new QPushButton(page);
    price_ = new QLineEdit(page);
    price_->setObjectName(QStringLiteral("jobPrice"));
    price_->setMaximumWidth(90);
    unit_ = new QComboBox(page);
    setPrice_ = new QPushButton(page);
    bill_ = new QPushButton(page);
    voidJobs_ = new QPushButton(page);
    voidJob_ = new QPushButton(page);
    actions->addWidget(shown_, 1);
    actions->addWidget(assignTo_);
    actions->addWidget(assign_);
    actions->addSpacing(16);
    actions->addWidget(price_);
    actions->addWidget(unit_);
    actions->addWidget(setPrice_);
    actions->addSpacing(16);
    actions->addWidget(bill_);
    actions->addWidget(voidJobs_);
    actions->addWidget(voidJob_);

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(filters);
    layout->addLayout(mapBar);
    layout->addWidget(overview_, 1);
    layout->addWidget(jobsView_, 1);
    layout->addLayout(actions);

    for (QComboBox* c : {customer_, village_, work_, jobStatus_})
        connect(c, &QComboBox::currentIndexChanged, this, [this] { QueryJobs(); });
    connect(dates_, &QCheckBox::toggled, this, [this](bool on) {
        from_->setEnabled(on);
        to_->setEnabled(on);
        QueryJobs();
    });
    connect(from_, &QDateEdit::dateChanged, this, [this] { QueryJobs(); });
    connect(to_, &QDateEdit::dateChanged, this, [this] { QueryJobs(); });
    connect(search_, &QLineEdit::textChanged, this, [this] { QueryJobs(); });
    connect(jobsView_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { ShowJob(); });
    connect(jobsView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { ShowSelectionOnMap(); });
    connect(colourBy_, &QComboBox::currentIndexChanged, this, [this] { ShowJobsOnMap(false); });
    connect(assign_, &QPushButton::clicked, this, &CBookWindow::Assign);
    connect(setPrice_, &QPushButton::clicked, this, &CBookWindow::SetPrice);
    connect(bill_, &QPushButton::clicked, this, &CBookWindow::BillSelected);
    connect(voidJobs_, &QPushButton::clicked, this, &CBookWindow::VoidSelected);
    connect(voidJob_, &QPushButton::clicked, this, &CBookWindow::VoidSelectedJobs);
}

void CBookWindow::Retranslate() {
    setWindowTitle(T(StringId::RES_BOOKWIN_TITLE));
    otherBook_->setText(T(StringId::RES_BOOKWIN_OTHER_BOOK));
    officeBook_->setText(T(StringId::RES_BOOKWIN_OFFICE_BOOK));
    backup_->setText(T(StringId::RES_BOOKWIN_BACKUP));
    billSettings_->setText(T(StringId::RES_BOOKWIN_BILL_SETTINGS));
    addFiles_->setText(T(StringId::RES_BOOKWIN_ADD_FILES));
    cancel_->setText(T(StringId::RES_BOOKWIN_CANCEL));
    close_->setText(T(StringId::RES_BOOKWIN_CLOSE));
    where_->setText(Location());
    tabs_->setTabText(0, T(StringId::RES_BOOKWIN_TAB_JOBS));
    tabs_->setTabText(1, T(StringId::RES_BOOKWIN_TAB_CUSTOMERS));
    tabs_->setTabText(2, T(StringId::RES_BOOKWIN_TAB_BILLS));
    tabs_->setTabText(3, T(StringId::RES_BOOKWIN_TAB_SEASON));
    RetranslateOverlaps();
    customerLabel_->setText(T(StringId::RES_BOOKWIN_CUSTOMER));
    villageLabel_->setText(T(StringId::RES_BOOKWIN_VILLAGE));
    workLabel_->setText(T(StringId::RES_BOOKWIN_WORK));
    statusLabel_->setText(T(StringId::RES_BOOKWIN_STATUS));
    dates_->setText(T(StringId::RES_BOOKWIN_DATES));
    fromLabel_->setText(T(StringId::RES_BOOKWIN_FROM));
    toLabel_->setText(T(StringId::RES_BOOKWIN_TO));
    searchLabel_->setText(T(StringId::RES_BOOKWIN_SEARCH));
    colourByLabel_->setText(T(StringId::RES_BOOKWIN_COLOUR_BY));
    {
        const QSignalBlocker block(colourBy_);
        colourBy_->setItemText(static_cast<int>(BookMapColour::kStatus), T(StringId::RES_BOOKWIN_BY_STATUS));
        colourBy_->setItemText(static_cast<int>(BookMapColour::kCustomer), T(StringId::RES_BOOKWIN_BY_CUSTOMER));
    }
    if (overview_->Map().Size() > 0) ShowJobsOnMap(false);  // the legend's texts
    assign_->setText(T(StringId::RES_BOOKWIN_ASSIGN));
    setPrice_->setText(T(StringId::RES_BOOKWIN_SET_PRICE));
    bill_->setText(T(StringId::RES_BOOKWIN_BILL));
    voidJobs_->setText(T(StringId::RES_BOOKWIN_VOID));
    voidJob_->setText(T(StringId::RES_BOOKWIN_VOID_JOB));
    // The enum choices keep their place; only their texts change.
    {
        const QSignalBlocker block(work_);
        const int at = std::max(work_->currentIndex(), 0);
        work_->clear();
        work_->addItem(T(StringId::RES_BOOKWIN_ANY));
        for (int i = 0; i < book::kWorkTypeCount; ++i) work_->addItem(WorkTypeText(static_cast<book::WorkType>(i)));
        work_->setCurrentIndex(at);
    }
    {
        const QSignalBlocker block(jobStatus_);
        const int at = std::max(jobStatus_->currentIndex(), 0);
        jobStatus_->clear();
        jobStatus_->addItem(T(StringId::RES_BOOKWIN_ANY));
        for (auto s : {book::JobStatus::kMeasured, book::JobStatus::kBilled, book::JobStatus::kPaid,
                       book::JobStatus::kVoid})
            jobStatus_->addItem(JobStatusText(s));
        jobStatus_->setCurrentIndex(at);
    }
    {
        const int at = std::max(unit_->currentIndex(), 0);
        unit_->clear();
        for (auto u : {book::BillingUnit::kMu, book::BillingUnit::kHectare, book::BillingUnit::kKilometre})
            unit_->addItem(UnitText(u));
        unit_->setCurrentIndex(at);
    }
    FillCustomerChoices();
    FillVillageChoices();
    model_->Retranslate();
    if (!opening_) ShowCount();
    RetranslateTabs();
}

QString CBookWindow::VillageFilter() const {
    return village_->currentIndex() > kAnyIndex ? village_->currentText() : QString();
}

book::JobFilter CBookWindow::CurrentFilter() const {
    book::JobFilter f;
    if (customer_->currentIndex() == kUnassignedIndex)
        f.customer = std::string();
    else if (customer_->currentIndex() > kUnassignedIndex)
        f.customer = customer_->currentText().toStdString();
    if (work_->currentIndex() > kAnyIndex) f.work = static_cast<book::WorkType>(work_->currentIndex() - 1);
    if (jobStatus_->currentIndex() > kAnyIndex) f.status = static_cast<book::JobStatus>(jobStatus_->currentIndex() - 1);
    if (dates_->isChecked()) {
        f.from = from_->date().toString(Qt::ISODate).toStdString();
        f.to = to_->date().toString(Qt::ISODate).toStdString();
    }
    const QString text = search_->text().trimmed();
    if (!text.isEmpty()) f.text = text.toStdString();
    if (const QString v = VillageFilter(); !v.isEmpty()) f.village = v.toStdString();
    return f;
}

void CBookWindow::Reload() {
    QueryCustomers();
    QueryJobs();
    QueryBills();
    QuerySeason();
    QueryOverlaps();
}

void CBookWindow::QueryJobs() {
    // One query at a time: typing into the search field asks once more at the
    // end, not once per letter that is already out of date.
    if (jobsQueried_) {
        jobsAgain_ = true;
        return;
    }
    jobsQueried_ = true;
    ++waiting_;
    book::JobFilter filter = CurrentFilter();
    // Sorted by the store when it can, a page at a time; else read whole and
    // sorted by the model.
    const std::optional<book::JobFilter::Sort> sort = model_->StoreSort();
    filter.sort = sort.value_or(book::JobFilter::Sort::kId);
    filter.descending = sort && model_->Descending();
    const std::size_t limit = sort ? book::kJobPageRows : 0;
    QPointer<CBookWindow> self(this);
    service_.Post([self, filter, limit, cache = ringCache_](BookAccess& a) -> CBookService::Answer {
        auto page = std::make_shared<book::JobPage>();
        auto rings = std::make_shared<std::vector<std::vector<WorldPoint>>>();
        book::BookStatus st = a.opened;
        if (a.store) st = book::ReadFirstPage(*a.store, filter, limit, *page);
        // The map shows the jobs listed so far: this page, then each page fetched.
        if (a.store && st.ok()) st = LoadJobRings(*a.store, a.location, page->jobs, *cache, *rings);
        const bool open = a.store != nullptr;
        const std::string where = a.location;
        return [self, page, rings, st, open, where, filter] {
            if (!self) return;
            CBookWindow& w = *self;
            --w.waiting_;
            w.jobsQueried_ = false;
            w.location_ = where;
            w.where_->setText(w.Location());
            if (!st.ok()) {
                w.Say(Refusal(st, open, where), true);
            } else {
                w.NoteVillages(page->jobs);
                w.totalJobs_ = static_cast<int>(page->seasonJobs);
                w.listed_ = filter;
                // A new list shows from its top: a scroll position left at
                // the end of the old one would at once ask for a second page.
                w.jobsView_->scrollToTop();
                // The same jobs again (a write reloaded them): the map's view stays.
                const bool same =
                    std::equal(page->jobs.begin(), page->jobs.end(), w.mapJobs_.begin(), w.mapJobs_.end(),
                               [](const book::Job& x, const book::Job& y) { return x.id == y.id; });
                w.mapJobs_ = page->jobs;
                w.mapRings_ = std::move(*rings);
                // The model is reset; the jobs picked before (a customer
                // assigned, a price set) stay picked for the next step.
                const std::set<book::JobId> picked = w.SelectedJobIds();
                w.model_->SetJobs(std::move(page->jobs), page->basis, page->matching);
                w.SelectJobIds(picked);
                w.ShowJobsOnMap(!same);
                w.ShowCount();
                if (w.opening_) w.Say(QString());
                w.opening_ = false;
            }
            if (w.jobsAgain_) {
                w.jobsAgain_ = false;
                w.QueryJobs();
            }
        };
    });
}

void CBookWindow::FetchJobs(std::size_t offset, std::size_t limit, std::uint64_t generation) {
    book::JobFilter filter = listed_;
    filter.offset = offset;
    filter.limit = limit;
    ++waiting_;
    QPointer<CBookWindow> self(this);
    service_.Post([self, filter, generation, cache = ringCache_](BookAccess& a) -> CBookService::Answer {
        auto jobs = std::make_shared<std::vector<book::Job>>();
        auto rings = std::make_shared<std::vector<std::vector<WorldPoint>>>();
        book::BookStatus st = a.opened;
        if (a.store) st = a.store->ListJobs(filter, *jobs);
        if (a.store && st.ok()) st = LoadJobRings(*a.store, a.location, *jobs, *cache, *rings);
        const bool open = a.store != nullptr;
        const std::string where = a.location;
        return [self, jobs, rings, st, open, where, generation, offset = filter.offset] {
            if (!self) return;
            CBookWindow& w = *self;
            --w.waiting_;
            if (!st.ok()) {
                w.model_->FetchFailed(generation);
                return w.Say(Refusal(st, open, where), true);
            }
            w.NoteVillages(*jobs);
            if (generation != w.model_->Generation()) return;  // a page of an older list
            w.mapJobs_.insert(w.mapJobs_.end(), jobs->begin(), jobs->end());
            for (auto& ring : *rings) w.mapRings_.push_back(std::move(ring));
            w.model_->AddPage(generation, offset, std::move(*jobs));
            w.ShowJobsOnMap(false);
            w.ShowCount();
        };
    });
}

void CBookWindow::NoteVillages(const std::vector<book::Job>& jobs) {
    const std::size_t before = villages_.size();
    for (const book::Job& j : jobs)
        if (!j.village.empty()) villages_.insert(Q(j.village));
    if (villages_.size() != before) FillVillageChoices();
}

void CBookWindow::ShowCount() {
    shown_->setText(Q(FormatText(StringId::RES_BOOKWIN_SHOWN, static_cast<int>(model_->Matching()), totalJobs_)));
}

bool CBookWindow::EveryMatchingJobSelected() const {
    return !model_->Complete() && model_->rowCount() > 0 &&
           jobsView_->selectionModel()->selectedRows().size() == model_->rowCount();
}

book::BookStatus CBookWindow::PickedIds(book::BookStore& s, const Picked& picked, std::vector<book::JobId>& ids) {
    if (!picked.every) {
        ids = picked.ids;
        return {};
    }
    book::JobFilter f = *picked.every;
    f.offset = 0;
    f.limit = 0;
    f.sort = book::JobFilter::Sort::kId;
    f.descending = false;
    return s.ListJobIds(f, ids);
}

CBookWindow::Picked CBookWindow::PickedJobs() const {
    Picked p;
    // Ctrl+A over a list not read whole means every job the filter matches,
    // including the pages not scrolled to: their ids come from the store.
    if (EveryMatchingJobSelected())
        p.every = listed_;
    else
        p.ids = SelectedJobs();
    return p;
}

std::vector<const book::Job*> CBookWindow::SelectedJobRows() const {
    std::vector<const book::Job*> out;
    for (const QModelIndex& i : jobsView_->selectionModel()->selectedRows()) out.push_back(&model_->JobAt(i.row()));
    std::sort(out.begin(), out.end(), [](const book::Job* a, const book::Job* b) { return a->id < b->id; });
    return out;
}

std::vector<book::JobId> CBookWindow::SelectedJobs() const {
    std::vector<book::JobId> ids;
    for (const book::Job* j : SelectedJobRows()) ids.push_back(j->id);
    return ids;
}

void CBookWindow::ShowJobsOnMap(bool refit) {
    const auto colour = colourBy_->currentIndex() == static_cast<int>(BookMapColour::kCustomer)
                            ? BookMapColour::kCustomer
                            : BookMapColour::kStatus;
    BookMapCategories c = CategoriesOf(mapJobs_, colour);
    std::vector<map::OverviewField> fields;
    fields.reserve(mapJobs_.size());
    for (std::size_t i = 0; i < mapJobs_.size(); ++i) {
        map::OverviewField f;
        if (i < mapRings_.size()) f.ring = mapRings_[i];
        f.line = mapJobs_[i].shape == book::JobShape::kLine;
        f.name = Q(mapJobs_[i].label);
        f.mu = mapJobs_[i].wgs84Area_m2 / geo::kSquareMetresPerMu;
        f.category = c.category[i];
        fields.push_back(std::move(f));
    }
    overview_->SetFields(std::move(fields), std::move(c.legend), refit);
    ShowSelectionOnMap();
}

std::set<book::JobId> CBookWindow::SelectedJobIds() const {
    std::set<book::JobId> ids;
    for (const QModelIndex& i : jobsView_->selectionModel()->selectedRows()) ids.insert(model_->JobAt(i.row()).id);
    return ids;
}

void CBookWindow::SelectJobIds(const std::set<book::JobId>& ids) {
    if (ids.empty()) return;
    QItemSelection selection;
    int first = -1;
    for (int r = 0; r < model_->rowCount(); ++r) {
        if (!ids.count(model_->JobAt(r).id)) continue;
        selection.select(model_->index(r, 0), model_->index(r, model_->columnCount() - 1));
        if (first < 0) first = r;
    }
    if (first < 0) return;
    // Selected, not made current: a current row changed would open its file
    // in the field view.
    jobsView_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    jobsView_->scrollTo(model_->index(first, 0));
}

book::JobId CBookWindow::JobOfField(int field) const {
    if (field < 0 || static_cast<std::size_t>(field) >= mapJobs_.size()) return 0;
    return mapJobs_[static_cast<std::size_t>(field)].id;
}

void CBookWindow::SelectField(int field) {
    const book::JobId id = JobOfField(field);
    for (int r = 0; r < model_->rowCount(); ++r) {
        if (model_->JobAt(r).id != id) continue;
        jobsView_->selectRow(r);
        jobsView_->scrollTo(model_->index(r, 0));
        return;
    }
}

void CBookWindow::ShowSelectionOnMap() {
    std::set<book::JobId> ids;
    for (const QModelIndex& i : jobsView_->selectionModel()->selectedRows()) ids.insert(model_->JobAt(i.row()).id);
    std::vector<int> fields;
    for (std::size_t f = 0; f < mapJobs_.size(); ++f)
        if (ids.count(mapJobs_[f].id)) fields.push_back(static_cast<int>(f));
    overview_->SetSelected(fields);
}

void CBookWindow::ShowJob() {
    const QModelIndex current = jobsView_->selectionModel()->currentIndex();
    if (!current.isValid() || !onShowJob_) return;
    const book::Job& j = model_->JobAt(current.row());
    const QString file = Q(book::SourceFileOf(j.file));  // a shape's job shows its file
    if (QFileInfo(file).isFile())
        onShowJob_(file);
    else
        Say(Q(FormatText(StringId::RES_BOOKWIN_NO_FILE, static_cast<int>(j.id), j.file.c_str())), true);
}

void CBookWindow::Assign() {
    const Picked picked = PickedJobs();
    if (picked.Empty()) return Say(T(StringId::RES_BOOKWIN_SELECT_JOBS), true);
    book::JobTerms terms;
    terms.customer = assignTo_->currentIndex() <= 0 ? std::string() : assignTo_->currentText().toStdString();
    Write([picked, terms](book::BookStore& s, Done& done) {
        std::vector<book::JobId> ids;
        if (auto st = PickedIds(s, picked, ids); !st.ok()) return st;
        const int n = static_cast<int>(ids.size());
        done = [n] { return Q(FormatText(StringId::RES_BOOK_ASSIGNED, n)); };
        return s.AssignJobs(ids, terms);
    });
}

void CBookWindow::SetPrice() {
    const Picked picked = PickedJobs();
    if (picked.Empty()) return Say(T(StringId::RES_BOOKWIN_SELECT_JOBS), true);
    const auto fen = book::ParseMoney(price_->text().trimmed().toStdString());
    if (!fen)
        return Say(Q(FormatText(StringId::RES_BOOK_BAD_VALUE, Text(StringId::RES_BOOKWIN_COL_PRICE).c_str(),
                                price_->text().toStdString().c_str())),
                   true);
    book::JobTerms terms;
    terms.priceFen = *fen;
    terms.unit = static_cast<book::BillingUnit>(std::max(unit_->currentIndex(), 0));
    Write([picked, terms](book::BookStore& s, Done& done) {
        std::vector<book::JobId> ids;
        if (auto st = PickedIds(s, picked, ids); !st.ok()) return st;
        const int n = static_cast<int>(ids.size());
        done = [n] { return Q(FormatText(StringId::RES_BOOK_ASSIGNED, n)); };
        return s.AssignJobs(ids, terms);
    });
}

void CBookWindow::VoidSelected() {
    const auto rows = SelectedJobRows();
    if (rows.empty()) return Say(T(StringId::RES_BOOKWIN_SELECT_JOBS), true);
    std::set<std::string> numbers;
    for (const book::Job* j : rows)
        if (j->bill) numbers.insert(*j->bill);
    if (numbers.empty()) return Say(T(StringId::RES_BOOKWIN_NO_BILL), true);
    std::string list;
    for (const std::string& n : numbers) list += (list.empty() ? "" : ", ") + n;
    const QString ask = Q(FormatText(StringId::RES_BOOKWIN_VOID_ASK, list.c_str()));
    const int answer = messageBox_ ? messageBox_(QMessageBox::Question, ask, QMessageBox::Yes | QMessageBox::No)
                                   : QMessageBox::question(this, windowTitle(), ask);
    if (answer != QMessageBox::Yes) return;
    Write([numbers](book::BookStore& s, Done& done) {
        const std::string today = book::Today();
        for (const std::string& n : numbers) {
            // Each bill is voided in its own transaction; the first refusal stops.
            if (auto st = s.VoidBill(n, today); !st.ok()) return st;
            done = [n] { return Q(FormatText(StringId::RES_BOOK_VOIDED, n.c_str())); };
        }
        return book::BookStatus::Ok();
    });
}

void CBookWindow::VoidSelectedJobs() {
    const Picked picked = PickedJobs();
    if (picked.Empty()) return Say(T(StringId::RES_BOOKWIN_SELECT_JOBS), true);
    const int n = picked.every ? static_cast<int>(model_->Matching()) : static_cast<int>(picked.ids.size());
    const QString ask = Q(FormatText(StringId::RES_BOOKWIN_VOID_JOB_ASK, n));
    const int answer = messageBox_ ? messageBox_(QMessageBox::Question, ask, QMessageBox::Yes | QMessageBox::No)
                                   : QMessageBox::question(this, windowTitle(), ask);
    if (answer != QMessageBox::Yes) return;
    Write([picked](book::BookStore& s, Done& done) {
        std::vector<book::JobId> ids;
        if (auto st = PickedIds(s, picked, ids); !st.ok()) return st;
        const int voided = static_cast<int>(ids.size());
        done = [voided] { return Q(FormatText(StringId::RES_BOOK_JOBS_VOIDED, voided)); };
        return s.VoidJobs(ids);
    });
}

void CBookWindow::BackUp() {
    // Beside the book, named by the day: "book-2026-05-01.gpkg".
    const QFileInfo book(Location());
    const QString suggested =
        book.dir().filePath(book.completeBaseName() + QLatin1Char('-') + Q(book::Today()) + QStringLiteral(".gpkg"));
    const QString title = T(StringId::RES_BOOKWIN_BACKUP);
    const QString file = chooseSaveFile_ ? chooseSaveFile_(title, suggested)
                                         : QFileDialog::getSaveFileName(this, title, suggested,
                                                                        QStringLiteral("GeoPackage (*.gpkg)"));
    if (file.isEmpty()) return;
    const std::string to = file.toStdString();
    Write([to](book::BookStore& s, Done& done) {
        done = [to] { return Q(FormatText(StringId::RES_BOOK_BACKED_UP, to.c_str())); };
        return s.Backup(to);
    });
}

void CBookWindow::Write(std::function<book::BookStatus(book::BookStore&, Done&)> write) {
    ++waiting_;
    QPointer<CBookWindow> self(this);
    service_.Post([self, write](BookAccess& a) -> CBookService::Answer {
        book::BookStatus st = a.opened;
        Done done;
        if (a.store) st = write(*a.store, done);
        const bool open = a.store != nullptr;
        const std::string where = a.location;
        return [self, st, done, open, where] {
            if (!self) return;
            --self->waiting_;
            if (!st.ok()) return self->Say(Refusal(st, open, where), true);
            self->Say(done ? done() : QString());
            self->Reload();
        };
    });
}

QString CBookWindow::Refusal(const book::BookStatus& st, bool open, const std::string& location) {
    if (!open) return Q(FormatText(StringId::RES_BOOKWIN_OPEN_FAILED, location.c_str(), book::BookFailureText(st).c_str()));
    return Q(FormatText(StringId::RES_BOOKWIN_FAILED, book::BookFailureText(st).c_str()));
}

// The office book's address (a libpq URI) as the book of this desktop. Its
// password never goes into the settings: an address carrying one is refused
// with where to put it instead.
void CBookWindow::ChooseOfficeBook() {
    const std::string now = location_;
    bool ok = false;
    const QString text = QInputDialog::getText(this, T(StringId::RES_BOOKWIN_OFFICE_BOOK),
                                               T(StringId::RES_BOOKWIN_OFFICE_PROMPT), QLineEdit::Normal,
                                               book::IsPgLocation(now) ? QString::fromStdString(now) : QString(), &ok)
                             .trimmed();
    if (!ok || text.isEmpty()) return;
    const std::string uri = text.toStdString();
    if (!book::IsPgLocation(uri)) {
        Say(Q(FormatText(StringId::RES_BOOKWIN_OFFICE_BAD, uri.c_str())), true);
        return;
    }
    if (book::PgLocationForDisplay(uri) != uri) {
        Say(T(StringId::RES_BOOKWIN_OFFICE_PASSWORD), true);
        return;
    }
    SaveBookLocation(text);
    service_.SetLocation(text);
    location_ = uri;
    villages_.clear();
    opening_ = true;
    where_->setText(Location());
    Say(Q(FormatText(StringId::RES_BOOKWIN_OPENING, uri.c_str())));
    Reload();
}

void CBookWindow::Say(const QString& text, bool problem) {
    status_->setText(text);
    status_->setToolTip(QString());
    status_->setStyleSheet(problem ? QStringLiteral("color: #b00000;") : QString());
}

void CBookWindow::SetWorking(bool on) {
    progress_->setVisible(on);
    cancel_->setVisible(on);
    if (on) progress_->setRange(0, 0);
}

void CBookWindow::AddFiles(const QStringList& paths) {
    std::vector<std::filesystem::path> inputs;
    for (const QString& p : paths) inputs.emplace_back(p.toStdString());
    if (inputs.empty()) return;
    SetWorking(true);
    ++waiting_;
    QPointer<CBookWindow> self(this);
    service_.Post([self, inputs](BookAccess& a) -> CBookService::Answer {
        auto summary = std::make_shared<BookAddSummary>(AddFilesToBook(a, inputs));
        const bool open = a.store != nullptr;
        const std::string where = a.location;
        return [self, summary, open, where] {
            if (!self) return;
            --self->waiting_;
            self->SetWorking(false);
            if (!summary->status.ok()) self->Say(Refusal(summary->status, open, where), true);
            self->ShowAdded(*summary, false);
        };
    });
}

void CBookWindow::ShowAdded(const BookAddSummary& s, bool downloads) {
    if (s.status.ok()) {
        QString text = Q(FormatText(StringId::RES_BOOK_ADD_SUMMARY, s.added, static_cast<int>(s.already.size()),
                                    static_cast<int>(s.notRead.size())));
        if (downloads) text = Q(FormatText(StringId::RES_BOOKWIN_DOWNLOADS_ADDED, text.toStdString().c_str()));
        if (s.cancelled) text = T(StringId::RES_BOOKWIN_CANCELLED) + QStringLiteral(" - ") + text;
        Say(text, !s.notRead.empty());
        // The files that did not become jobs, and why, on the status line's tooltip.
        QStringList details;
        for (const auto& a : s.already) {
            if (static_cast<std::size_t>(details.size()) >= kDetailLines) break;
            details << Q(FormatText(StringId::RES_BOOK_ALREADY, a.file.string().c_str(), static_cast<int>(a.job),
                                    a.label.c_str()));
        }
        for (const auto& p : s.notRead) {
            if (static_cast<std::size_t>(details.size()) >= kDetailLines) break;
            details << Q(FormatText(StringId::RES_BOOK_NOT_READ, p.path.string().c_str(), p.message.c_str()));
        }
        status_->setToolTip(details.join(QLatin1Char('\n')));
        if (s.already.size() == 1 && s.added == 0 && s.notRead.empty()) status_->setText(details.front());
    }
    Reload();
}

void CBookWindow::dragEnterEvent(QDragEnterEvent* e) {
    if (!e->mimeData()->hasUrls()) return;
    for (const QUrl& u : e->mimeData()->urls())
        if (u.isLocalFile()) {
            e->setDropAction(Qt::CopyAction);
            e->accept();
            return;
        }
}

void CBookWindow::dropEvent(QDropEvent* e) {
    QStringList files;
    for (const QUrl& u : e->mimeData()->urls())
        if (u.isLocalFile()) files << u.toLocalFile();
    if (files.isEmpty()) return;
    e->setDropAction(Qt::CopyAction);
    e->accept();
    AddFiles(files);
}

}  // namespace dorvane

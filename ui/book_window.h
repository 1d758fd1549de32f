#pragma once
// The Book window: the season book of the desktop program.
//   Jobs: filters (customer, village, work type, status, date range, free
//         text), a table sortable by every column, and for the selected jobs:
//         assign a customer, set a price, bill them, void their bills.
//         Selecting a job shows its file in the field view.
//   Customers: add, edit (name, village, phone, notes, a default price per
//         work type).
//   Bills: void, record a payment.
//   Season: jobs, mu, billed, paid and outstanding per customer and overall,
//         for a date range.
//   Overlaps: the listed fields that share ground; a click on a pair selects
//         both jobs. A bill that would take a field measured twice asks first.
// Files dropped on the window, the computer pane's "Add to book" and the
// ledger's "Add all to book" are read and added with progress and a Cancel
// button in the window. Every call to the book runs on the book's worker
// (ui/book_service.h); the window only sends requests and shows answers.
// GUI thread only.

#include <QDialog>
#include <QMessageBox>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "book/bill_print.h"
#include "book/bill_settings.h"
#include "book/book_types.h"
#include "book/job_overlaps.h"
#include "book/store.h"
#include "ui/book_overview.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPrinter;
class QPushButton;
class QTabWidget;
class QTableView;
class QTableWidget;
class QUrl;

namespace dorvane {

class CBookService;
class CBookJobModel;
class COverviewWidget;
struct BookAddSummary;

class CBookWindow : public QDialog {
public:
    /// `service` outlives the window.
    explicit CBookWindow(CBookService& service, QWidget* parent = nullptr);
    ~CBookWindow() override;
    CBookWindow(const CBookWindow&) = delete;
    CBookWindow& operator=(const CBookWindow&) = delete;

    /// Reads `paths` (files and folders) and adds them, with progress and Cancel.
    void AddFiles(const QStringList& paths);
    /// Asks the book for everything the tabs show.
    void Reload();
    /// The answer of an add done elsewhere (downloads): shown, then reloaded.
    void ShowAdded(const BookAddSummary& summary, bool downloads);
    /// True when no request of the window waits for its answer.
    bool Idle() const;
    void Retranslate();

    /// Called with a job's file when the user selects it (the field view).
    void SetOnShowJob(std::function<void(const QString&)> f) { onShowJob_ = std::move(f); }
    /// Replaces the save-file dialog (title, suggested path; "" = cancelled).
    void SetSaveFileChooser(std::function<QString(const QString&, const QString&)> f) {
        chooseSaveFile_ = std::move(f);
    }
    /// Where "Open PDF" writes bills (default: the temporary folder).
    void SetBillFolder(const QString& folder) { billFolder_ = folder; }
    /// Replaces opening a file with the desktop's viewer.
    void SetOpenUrl(std::function<void(const QUrl&)> f) { openUrl_ = std::move(f); }
    /// Replaces the print dialog: sets up the printer, false = cancelled.
    void SetPrinterChooser(std::function<bool(QPrinter&)> f) { choosePrinter_ = std::move(f); }
    /// Replaces the question box (the frame's, which tests answer).
    void SetMessageBox(std::function<int(QMessageBox::Icon, const QString&, QMessageBox::StandardButtons)> f) {
        messageBox_ = std::move(f);
    }

    QTabWidget* Tabs() const { return tabs_; }
    QTableView* JobsView() const { return jobsView_; }
    CBookJobModel* JobsModel() const { return model_; }
    /// The map of the jobs listed (a field per job, in mapJobs_ order).
    COverviewWidget* Overview() const { return overview_; }
    /// The job of the map's field `field` (0 for none).
    book::JobId JobOfField(int field) const;
    /// The jobs picked in the list, by id; picks the listed ones of `ids`
    /// again after the list is read anew (the first of them scrolled to).
    std::set<book::JobId> SelectedJobIds() const;
    void SelectJobIds(const std::set<book::JobId>& ids);
    QTableWidget* CustomersTable() const { return customers_; }
    QTableWidget* BillsTable() const { return bills_; }
    QTableWidget* SeasonTable() const { return season_; }
    QTableWidget* OverlapsTable() const { return overlaps_; }
    /// The status line (results, refusals).
    QLabel* Status() const { return status_; }
    /// The book's location as shown.
    QString Location() const;
    /// The refusal text of `st`: the book's own message, or, when the book
    /// is not open, why it cannot be opened.
    static QString Refusal(const book::BookStatus& st, bool open, const std::string& location);

protected:
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    /// Filter entries before the names: "(any)", then (customers) "(unassigned)".
    static constexpr int kAnyIndex = 0;
    static constexpr int kUnassignedIndex = 1;

    void BuildJobsTab(QWidget* page);
    void BuildCustomersTab(QWidget* page);
    void BuildBillsTab(QWidget* page);
    void BuildSeasonTab(QWidget* page);
    /// Overlaps: the pairs of listed fields that share ground (ui/book_window_overlaps.cpp).
    void BuildOverlapsTab(QWidget* page);
    void RetranslateOverlaps();
    void QueryOverlaps();
    void FillOverlaps();
    /// Selects both jobs of the pair in `row` in the jobs list.
    void SelectOverlap(int row);
    void RetranslateTabs();

    book::JobFilter CurrentFilter() const;
    QString VillageFilter() const;
    void QueryJobs();
    void QueryCustomers();
    void QueryBills();
    void QuerySeason();
    void FillCustomerChoices();
    void FillVillageChoices();
    void FillCustomers();
    void FillBills();
    void FillSeason();
    void ShowJob();
    /// The map's fields anew from mapJobs_/mapRings_ (`refit`: fit the view).
    void ShowJobsOnMap(bool refit);
    /// A field clicked on the map: its row is selected.
    void SelectField(int field);
    void ShowSelectionOnMap();
    void CustomerRowChosen();

    std::vector<book::JobId> SelectedJobs() const;
    /// The jobs an action on the selection acts on: the selected ids, or
    /// every job of the listed filter (`every`) when the selection is every
    /// row of a list not read whole.
    struct Picked {
        std::vector<book::JobId> ids;
        std::optional<book::JobFilter> every;
        bool Empty() const { return ids.empty() && !every; }
    };
    Picked PickedJobs() const;
    bool EveryMatchingJobSelected() const;
    /// On the worker: the ids `picked` stands for.
    static book::BookStatus PickedIds(book::BookStore& s, const Picked& picked, std::vector<book::JobId>& ids);
    /// Asks the worker for a further page of the listed jobs (the model's fetch).
    void FetchJobs(std::size_t offset, std::size_t limit, std::uint64_t generation);
    void NoteVillages(const std::vector<book::Job>& jobs);
    /// "N of M jobs shown": N the jobs the filter matches, M the season's.
    void ShowCount();
    std::vector<const book::Job*> SelectedJobRows() const;
    void Assign();
    void SetPrice();
    void BillSelected();
    void VoidSelected();
    void VoidSelectedJobs();
    void BackUp();
    void AddCustomer();
    void SaveCustomer();
    void Pay();
    void VoidBill();
    /// Loads the selected bill as printed on the worker, then runs `use` here.
    void WithBillPrint(std::function<void(const book::BillPrint&)> use);
    void OpenBillPdf();
    /// The bill's PDF with a page of its fields' maps, drawn with progress
    /// and Cancel (the maps may wait for their tiles).
    /// Loads the bill and its fields' boundaries on the worker, then writes
    /// the PDF with pages of maps (WritePicturesPdf) or without (the first
    /// page's map from packs and cached tiles only, WriteOverviewPdf).
    void OpenBillPdfWithPictures(bool picturePages = true);
    void WriteOverviewPdf(const std::shared_ptr<book::BillPrint>& print,
                          const std::shared_ptr<std::vector<book::BillPicture>>& pictures);
    void WritePicturesPdf(const std::shared_ptr<book::BillPrint>& print,
                          const std::shared_ptr<std::vector<book::BillPicture>>& pictures);
    void ShowBillPdf(const std::string& number, const std::string& out);
    void PrintBill();

    /// Runs a write on the worker; on success reloads, on refusal says why.
    /// `write` runs on the worker and may set `done`, which makes the text
    /// shown on success (on the GUI thread: texts change with the language).
    using Done = std::function<QString()>;
    void Write(std::function<book::BookStatus(book::BookStore&, Done& done)> write);
    void Say(const QString& text, bool problem = false);
    void ChooseOfficeBook();
    /// "Bill settings...": reads bill.conf and the book's area basis on the
    /// worker, shows them, writes what is accepted (ui/book_window_settings.cpp).
    void EditBillSettings();
    void ShowBillSettings(const book::BillSettings& now, book::AreaBasis basis);
    void SetWorking(bool on);

    CBookService& service_;
    std::function<void(const QString&)> onShowJob_;
    std::function<int(QMessageBox::Icon, const QString&, QMessageBox::StandardButtons)> messageBox_;
    std::function<QString(const QString&, const QString&)> chooseSaveFile_;
    std::function<void(const QUrl&)> openUrl_;
    std::function<bool(QPrinter&)> choosePrinter_;
    QString billFolder_;
    int waiting_ = 0;  ///< requests of this window without their answer
    bool jobsQueried_ = false, jobsAgain_ = false;
    int totalJobs_ = 0;
    book::JobFilter listed_;  ///< the filter (and order) of the list the model holds
    bool opening_ = true;  ///< "Opening the book" shows until the first jobs arrive
    std::string location_;

    std::vector<book::Customer> customerList_;
    std::vector<book::Bill> billList_;
    book::SeasonFigures figures_;
    std::set<QString> villages_;
    QString editing_;  ///< the customer whose row fills the form ("" for none)

    QLabel* where_ = nullptr;
    QPushButton* otherBook_ = nullptr;
    QPushButton* officeBook_ = nullptr;  ///< "Office book...": a postgresql:// address
    QPushButton* addFiles_ = nullptr;
    QPushButton* backup_ = nullptr;
    QPushButton* billSettings_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    // Jobs
    QLabel* customerLabel_ = nullptr;
    QLabel* villageLabel_ = nullptr;
    QLabel* workLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLabel* fromLabel_ = nullptr;
    QLabel* toLabel_ = nullptr;
    QLabel* searchLabel_ = nullptr;
    QComboBox* customer_ = nullptr;
    QComboBox* village_ = nullptr;
    QComboBox* work_ = nullptr;
    QComboBox* jobStatus_ = nullptr;
    QCheckBox* dates_ = nullptr;
    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QLineEdit* search_ = nullptr;
    QTableView* jobsView_ = nullptr;
    CBookJobModel* model_ = nullptr;
    QLabel* colourByLabel_ = nullptr;
    QComboBox* colourBy_ = nullptr;  ///< BookMapColour by index
    COverviewWidget* overview_ = nullptr;
    /// The jobs on the map and their boundaries (as listed, in id order).
    std::vector<book::Job> mapJobs_;
    std::vector<std::vector<WorldPoint>> mapRings_;
    /// Boundaries read so far; the worker's alone (see BookRingCache).
    std::shared_ptr<BookRingCache> ringCache_ = std::make_shared<BookRingCache>();
    QLabel* shown_ = nullptr;
    QComboBox* assignTo_ = nullptr;
    QPushButton* assign_ = nullptr;
    QLineEdit* price_ = nullptr;
    QComboBox* unit_ = nullptr;
    QPushButton* setPrice_ = nullptr;
    QPushButton* bill_ = nullptr;
    QPushButton* voidJobs_ = nullptr;  ///< voids the selected jobs' bills
    QPushButton* voidJob_ = nullptr;   ///< voids the selected jobs themselves
    // Customers
    QTableWidget* customers_ = nullptr;
    QLabel* formLabels_[4] = {};
    QLineEdit* name_ = nullptr;
    QLineEdit* customerVillage_ = nullptr;
    QLineEdit* phone_ = nullptr;
    QLineEdit* notes_ = nullptr;
    QLabel* priceLabels_[book::kWorkTypeCount] = {};
    QLineEdit* prices_[book::kWorkTypeCount] = {};
    QPushButton* addCustomer_ = nullptr;
    QPushButton* saveCustomer_ = nullptr;
    // Bills
    QTableWidget* bills_ = nullptr;
    QLabel* amountLabel_ = nullptr;
    QLabel* payDateLabel_ = nullptr;
    QLineEdit* amount_ = nullptr;
    QDateEdit* payDate_ = nullptr;
    QPushButton* pay_ = nullptr;
    QPushButton* voidBill_ = nullptr;
    QPushButton* openPdf_ = nullptr;
    QCheckBox* billPictures_ = nullptr;  ///< "Open PDF" adds the maps page
    QPushButton* print_ = nullptr;
    // Season
    QCheckBox* seasonDates_ = nullptr;
    QLabel* seasonFromLabel_ = nullptr;
    QLabel* seasonToLabel_ = nullptr;
    QDateEdit* seasonFrom_ = nullptr;
    QDateEdit* seasonTo_ = nullptr;
    QPushButton* seasonRefresh_ = nullptr;
    QTableWidget* season_ = nullptr;
    // Overlaps
    QTableWidget* overlaps_ = nullptr;
    std::vector<book::JobOverlap> overlapList_;
    // Bottom
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace dorvane

#include "ui/ledger_overlaps.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>

#include "convert/xml_text.h"
#include "geo/figures.h"
#include "i18n/string_table.h"
#include "report/ledger_table.h"

namespace dorvane {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

/// The figures as the ledger's CSV writes them: m² to the centimetre, mu to
/// four places, the share in per cent to one.
constexpr int kM2Decimals = 2;
constexpr int kMuDecimals = 4;
constexpr int kShareDecimals = 1;
constexpr double kPercent = 100.0;
/// Rows shown before the list scrolls: the window's table of fields keeps the room.
constexpr int kVisibleRows = 4;

QTableWidgetItem* Item(const QString& text, bool number) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (number) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

}  // namespace

CLedgerOverlaps::CLedgerOverlaps(QWidget* parent) : QTableWidget(0, kColumns, parent) {
    setObjectName(QStringLiteral("ledgerOverlaps"));
    verticalHeader()->hide();
    setSelectionBehavior(QAbstractItemView::SelectRows);
    horizontalHeader()->setStretchLastSection(true);
    setMaximumHeight(horizontalHeader()->sizeHint().height() +
                     kVisibleRows * verticalHeader()->defaultSectionSize() + 2 * frameWidth());
    Retranslate();
}

void CLedgerOverlaps::Retranslate() {
    setHorizontalHeaderLabels({Q(Text(StringId::RES_LEDGER_COL_OVERLAP_A)),
                               Q(Text(StringId::RES_LEDGER_COL_OVERLAP_B)),
                               Q(Text(StringId::RES_LEDGER_COL_OVERLAP_M2)),
                               Q(Text(StringId::RES_LEDGER_COL_OVERLAP_MU)),
                               Q(Text(StringId::RES_LEDGER_COL_OVERLAP_SHARE)),
                               Q(Text(StringId::RES_LEDGER_COL_OVERLAP_TWICE)),
                               Q(Text(StringId::RES_LEDGER_KEEP_BOTH))});
    for (QCheckBox* box : findChildren<QCheckBox*>())
        box->setText(Q(Text(StringId::RES_LEDGER_KEEP_BOTH)));
}

void CLedgerOverlaps::Fill(const report::Ledger& shown) {
    clearContents();
    setRowCount(static_cast<int>(shown.overlaps.size()));
    for (int r = 0; r < rowCount(); ++r) {
        const report::LedgerOverlap& o = shown.overlaps[static_cast<std::size_t>(r)];
        const report::LedgerRow& a = shown.rows[o.a];
        const report::LedgerRow& b = shown.rows[o.b];
        setItem(r, kFieldA, Item(Q(a.fileText), false));
        setItem(r, kFieldB, Item(Q(b.fileText), false));
        setItem(r, kOverlapM2, Item(Q(FixedText(o.overlap_m2, kM2Decimals)), true));
        setItem(r, kOverlapMu,
                Item(Q(FixedText(o.overlap_m2 / geo::kSquareMetresPerMu, kMuDecimals)), true));
        setItem(r, kShare, Item(Q(FixedText(o.shareOfSmaller * kPercent, kShareDecimals)), true));
        setItem(r, kTwice, Item(Q(report::OverlapTwiceText(o)), false));
        if (!o.measuredTwice) continue;
        // The box is keyed by both rows' file and shape, which outlive this
        // filling: a date filter or a sort fills the list anew.
        auto* box = new QCheckBox(Q(Text(StringId::RES_LEDGER_KEEP_BOTH)));
        box->setChecked(o.kept);
        // Queued: the answer fills this list anew, which deletes the box that
        // is still sending its signal.
        connect(
            box, &QCheckBox::toggled, this,
            [this, pair = report::PairOf(a, b)](bool on) {
                if (onKeep_) onKeep_(pair, on);
            },
            Qt::QueuedConnection);
        setCellWidget(r, kKeep, box);
    }
    resizeColumnsToContents();
}

QWidget* CLedgerOverlaps::KeepBoth(int row) const {
    return cellWidget(row, kKeep);
}

}  // namespace dorvane

#include "ui/map_sources_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/startup/program_help.h"
#include "i18n/string_table.h"
#include "map/keep_offline.h"
#include "map/pack_tiles.h"
#include "map/tile_cache.h"
#include "ui/ui_text.h"

namespace dorvane {
namespace {

using ui_text::T;

/// The cache limit the dialog allows (MB): a few hundred tiles up to a
/// large disk's worth.
constexpr int kMinCacheMB = 10;
constexpr int kMaxCacheMB = 100000;
/// Zooms offered for keeping: 0 to the OpenStreetMap-style deepest level.
constexpr int kDeepestKeptZoom = kMaxTileZoom;
/// The template the address fields are wide enough for (OpenStreetMap's own).
constexpr const char* kTypicalTemplate = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
/// Levels kept by default below the view's: the view itself and two closer.
constexpr int kKeepDeeper = 2;

}  // namespace

CMapSourcesDialog::CMapSourcesDialog(const TileSettings& now, QRectF view, int viewZoom, QWidget* parent)
    : QDialog(parent), base_(now), view_(view) {
    setWindowTitle(T(StringId::RES_MAP_DLG_TITLE));
    auto* form = new QFormLayout;
    preset_ = new QComboBox(this);
    preset_->addItem(T(StringId::RES_MAP_PRESET_OSM), static_cast<int>(map::TilePreset::kOsm));
    preset_->addItem(T(StringId::RES_MAP_PRESET_TIANDITU), static_cast<int>(map::TilePreset::kTianditu));
    preset_->addItem(T(StringId::RES_MAP_PRESET_CUSTOM), static_cast<int>(map::TilePreset::kCustom));
    preset_->addItem(T(StringId::RES_MAP_PRESET_NONE), static_cast<int>(map::TilePreset::kNone));
    form->addRow(T(StringId::RES_MAP_SOURCE), preset_);
    key_ = new QLineEdit(map::TiandituKeyOf(now), this);
    form->addRow(T(StringId::RES_MAP_TIANDITU_KEY), key_);
    terms_ = new QLabel(T(StringId::RES_MAP_TIANDITU_TERMS), this);
    terms_->setWordWrap(true);
    form->addRow(terms_);
    const bool custom = map::PresetOf(now) == map::TilePreset::kCustom;
    url_ = new QLineEdit(custom ? now.urlTemplate : QString(), this);
    form->addRow(T(StringId::RES_MAP_CUSTOM_URL), url_);
    overlay_ = new QLineEdit(custom ? now.overlayTemplate : QString(), this);
    form->addRow(T(StringId::RES_MAP_CUSTOM_OVERLAY), overlay_);
    attribution_ = new QLineEdit(custom ? now.attribution : QString(), this);
    form->addRow(T(StringId::RES_MAP_CUSTOM_ATTRIBUTION), attribution_);
    // A whole template in view: cut to its tail, a typing slip goes unseen.
    for (QLineEdit* e : {url_, overlay_})
        e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QLatin1String(kTypicalTemplate)));
    keeping_ = new QCheckBox(T(StringId::RES_MAP_CUSTOM_KEEPING), this);
    keeping_->setChecked(custom && now.allowsKeeping);
    form->addRow(keeping_);

    packs_ = new QListWidget(this);
    packs_->addItems(now.stacked);
    auto* add = new QPushButton(T(StringId::RES_MAP_ADD_PACK), this);
    remove_ = new QPushButton(T(StringId::RES_MAP_REMOVE_PACK), this);
    remove_->setEnabled(false);  // until a pack is picked in the list
    auto* packButtons = new QHBoxLayout;
    packButtons->addWidget(add);
    packButtons->addWidget(remove_);
    packButtons->addStretch();
    form->addRow(new QLabel(T(StringId::RES_MAP_PACKS), this));
    form->addRow(packs_);
    form->addRow(packButtons);

    offline_ = new QCheckBox(T(StringId::RES_MAP_OFFLINE), this);
    offline_->setChecked(now.offline);
    form->addRow(offline_);
    cache_ = new QSpinBox(this);
    cache_->setRange(kMinCacheMB, kMaxCacheMB);
    cache_->setValue(std::clamp(now.cacheLimitMB, kMinCacheMB, kMaxCacheMB));
    clear_ = new QPushButton(T(StringId::RES_MAP_CLEAR_CACHE), this);
    auto* cacheRow = new QHBoxLayout;
    cacheRow->addWidget(cache_);
    cacheRow->addWidget(clear_);
    form->addRow(T(StringId::RES_MAP_CACHE_LIMIT), cacheRow);

    keepFrom_ = new QSpinBox(this);
    keepTo_ = new QSpinBox(this);
    keepFrom_->setRange(0, kDeepestKeptZoom);
    keepTo_->setRange(0, kDeepestKeptZoom);
    keepFrom_->setValue(std::clamp(viewZoom, 0, kDeepestKeptZoom));
    keepTo_->setValue(std::clamp(viewZoom + kKeepDeeper, 0, kDeepestKeptZoom));
    keep_ = new QPushButton(T(StringId::RES_MAP_KEEP), this);
    auto* keepRow = new QHBoxLayout;
    keepRow->addWidget(keepFrom_);
    keepRow->addWidget(new QLabel(T(StringId::RES_MAP_KEEP_TO), this));
    keepRow->addWidget(keepTo_);
    keepRow->addWidget(keep_);
    form->addRow(T(StringId::RES_MAP_KEEP_FROM), keepRow);
    keepWhy_ = new QLabel(this);
    keepWhy_->setWordWrap(true);
    form->addRow(keepWhy_);

    message_ = new QLabel(this);
    message_->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(message_);
    top->addWidget(buttons);

    const int index = preset_->findData(static_cast<int>(map::PresetOf(now)));
    preset_->setCurrentIndex(std::max(0, index));
    ShowPreset();
    connect(preset_, &QComboBox::currentIndexChanged, this, [this] { ShowPreset(); });
    connect(keeping_, &QCheckBox::toggled, this, [this] { ShowPreset(); });
    connect(offline_, &QCheckBox::toggled, this, [this] { ShowPreset(); });
    connect(url_, &QLineEdit::textChanged, this, [this] { ShowPreset(); });
    connect(preset_, &QComboBox::currentIndexChanged, this, [this] { ForgetMessage(); });
    for (QLineEdit* e : {key_, url_, overlay_})
        connect(e, &QLineEdit::textEdited, this, [this] { ForgetMessage(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(add, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, T(StringId::RES_MAP_ADD_PACK), PackFolder(),
                                                          QStringLiteral("MBTiles (*.mbtiles)"));
        if (path.isEmpty()) return;
        QString error;
        // Said at once rather than when the map later draws nothing.
        if (!map::CPackTileSource::Open(path, &error)) {
            message_->setText(error);
            return;
        }
        packs_->addItem(path);
        message_->clear();
    });
    connect(packs_, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem* picked) { remove_->setEnabled(picked != nullptr); });
    connect(remove_, &QPushButton::clicked, this, [this] { delete packs_->currentItem(); });
    connect(clear_, &QPushButton::clicked, this, [this] {
        clear_->setEnabled(false);
        map::ClearTileCacheAsync(TileCacheFolder(), this, [this](bool ok) {
            clear_->setEnabled(true);
            message_->setText(T(ok ? StringId::RES_MAP_CACHE_CLEARED : StringId::RES_MAP_CACHE_NOT_CLEARED));
        });
    });
    connect(keep_, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, T(StringId::RES_MAP_KEEP_CHOOSE_FILE), PackFolder(),
                                                          QStringLiteral("MBTiles (*.mbtiles)"));
        if (!path.isEmpty()) KeepInto(path.endsWith(QLatin1String(".mbtiles")) ? path : path + QStringLiteral(".mbtiles"));
    });
}

void CMapSourcesDialog::ShowPreset() {
    const auto p = static_cast<map::TilePreset>(preset_->currentData().toInt());
    const bool tianditu = p == map::TilePreset::kTianditu;
    const bool custom = p == map::TilePreset::kCustom;
    key_->setEnabled(tianditu);
    terms_->setVisible(tianditu);
    for (QWidget* w : {static_cast<QWidget*>(url_), static_cast<QWidget*>(overlay_),
                       static_cast<QWidget*>(attribution_), static_cast<QWidget*>(keeping_)})
        w->setEnabled(custom);
    const TileSettings chosen = Chosen();
    // The greyed button says why, in the words KeepInto would refuse with.
    QString why;
    if (view_.isEmpty())
        why = T(StringId::RES_MAP_KEEP_NO_VIEW);
    else if (!map::MayKeepOffline(chosen))
        why = T(StringId::RES_MAP_KEEP_NOT_ALLOWED);
    else if (chosen.offline)
        why = T(StringId::RES_MAP_KEEP_OFFLINE);
    keep_->setEnabled(why.isEmpty());
    keepWhy_->setText(why);
    keepWhy_->setVisible(!why.isEmpty());
}

void CMapSourcesDialog::ForgetMessage() {
    message_->clear();
}

QString CMapSourcesDialog::TypicalTemplate() {
    return QLatin1String(kTypicalTemplate);
}

QString CMapSourcesDialog::PackFolder() const {
    for (int i = packs_->count() - 1; i >= 0; --i) {
        const QFileInfo pack(packs_->item(i)->text());
        if (pack.dir().exists()) return pack.absolutePath();
    }
    return QDir::homePath();
}

TileSettings CMapSourcesDialog::Chosen() const {
    TileSettings custom = base_;
    custom.urlTemplate = url_->text().trimmed();
    custom.overlayTemplate = overlay_->text().trimmed();
    custom.attribution = attribution_->text().trimmed();
    if (custom.attribution.isEmpty()) custom.attribution = TileSettingsFor(custom.urlTemplate).attribution;
    custom.overlayAttribution = custom.overlayTemplate.isEmpty() ? QString() : custom.attribution;
    custom.allowsKeeping = keeping_->isChecked();
    custom.stacked.clear();
    for (int i = 0; i < packs_->count(); ++i) custom.stacked << packs_->item(i)->text();
    custom.offline = offline_->isChecked();
    custom.cacheLimitMB = cache_->value();
    return map::PresetSettings(static_cast<map::TilePreset>(preset_->currentData().toInt()), key_->text(),
                               custom);
}

QString CMapSourcesDialog::Problem() const {
    const auto p = static_cast<map::TilePreset>(preset_->currentData().toInt());
    if (p == map::TilePreset::kTianditu && key_->text().trimmed().isEmpty()) return T(StringId::RES_MAP_NEED_KEY);
    if (p == map::TilePreset::kCustom) {
        if (!IsTileTemplateArgument(url_->text().trimmed().toStdString())) return T(StringId::RES_MAP_BAD_TEMPLATE);
        const QString o = overlay_->text().trimmed();
        if (!o.isEmpty() && !IsTileTemplateArgument(o.toStdString())) return T(StringId::RES_MAP_BAD_TEMPLATE);
    }
    return {};
}

void CMapSourcesDialog::accept() {
    const QString problem = Problem();
    if (!problem.isEmpty()) {
        message_->setText(problem);
        // The field at fault takes the keys, so the fix is typed at once.
        const auto p = static_cast<map::TilePreset>(preset_->currentData().toInt());
        QLineEdit* wrong = key_;
        if (p == map::TilePreset::kCustom)
            wrong = IsTileTemplateArgument(url_->text().trimmed().toStdString()) ? overlay_ : url_;
        wrong->setFocus(Qt::OtherFocusReason);
        wrong->selectAll();
        return;
    }
    QDialog::accept();
}

void CMapSourcesDialog::KeepInto(const QString& path) {
    const TileSettings source = Chosen();
    std::vector<int> zooms;
    for (int z = std::min(keepFrom_->value(), keepTo_->value()); z <= std::max(keepFrom_->value(), keepTo_->value());
         ++z)
        zooms.push_back(z);
    auto* keep = new map::CKeepOffline({source, view_, zooms, path}, this);
    QString detail;
    const map::KeepRefusal r = keep->Start(&detail);
    if (r != map::KeepRefusal::kNone) {
        delete keep;
        StringId id = StringId::RES_MAP_KEEP_NOTHING;
        if (r == map::KeepRefusal::kNotAllowed) id = StringId::RES_MAP_KEEP_NOT_ALLOWED;
        if (r == map::KeepRefusal::kOffline) id = StringId::RES_MAP_KEEP_OFFLINE;
        if (r == map::KeepRefusal::kTooMany) id = StringId::RES_MAP_KEEP_TOO_MANY;
        message_->setText(r == map::KeepRefusal::kCannotWrite
                              ? QString::fromStdString(FormatText(StringId::RES_MAP_KEEP_CANNOT_WRITE,
                                                                  path.toStdString().c_str(),
                                                                  detail.toStdString().c_str()))
                              : T(id));
        return;
    }
    // The toolkit's own Cancel button (translated with the toolkit).
    auto* progress = new QProgressDialog(this);
    progress->setLabelText(T(StringId::RES_MAP_KEEP_PROGRESS));
    progress->setRange(0, static_cast<int>(keep->Total()));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
    keep_->setEnabled(false);
    connect(progress, &QProgressDialog::canceled, keep, [keep] { keep->Cancel(); });
    keep->SetOnProgress([progress](int done, int) { progress->setValue(done); });
    keep->SetOnFinished([this, keep, progress, path](bool ok, int missing) {
        progress->deleteLater();
        keep->deleteLater();
        keep_->setEnabled(true);
        if (!ok) {
            if (!keep->WriteError().isEmpty())
                message_->setText(QString::fromStdString(FormatText(StringId::RES_MAP_KEEP_CANNOT_WRITE,
                                                                    path.toStdString().c_str(),
                                                                    keep->WriteError().toStdString().c_str())));
            return;
        }
        if (packs_->findItems(path, Qt::MatchExactly).isEmpty()) packs_->addItem(path);
        QString text = T(StringId::RES_MAP_KEEP_DONE);
        if (missing > 0)
            text += QLatin1Char(' ') + QString::fromStdString(FormatText(StringId::RES_MAP_KEEP_MISSING,
                                                                         std::to_string(missing).c_str()));
        message_->setText(text);
    });
}

}  // namespace dorvane

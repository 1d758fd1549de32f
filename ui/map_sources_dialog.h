#pragma once
// The map's sources as the user sets them: a preset (OpenStreetMap,
// Tianditu on the user's key, a custom template with an optional overlay,
// none), offline packs stacked over it, the Offline switch, the cache's
// limit and "Clear map cache", and "Keep for offline" for the area in view.
// Nothing here blocks: the cache is cleared and a pack written on worker
// threads, tiles kept are fetched on the event loop.

#include <QDialog>
#include <QRectF>

#include "map/tile_presets.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace dorvane {

class CMapSourcesDialog : public QDialog {
public:
    /// `view`: the area in view (world units), for "Keep for offline";
    /// empty when there is none.
    CMapSourcesDialog(const TileSettings& now, QRectF view, int viewZoom, QWidget* parent = nullptr);

    /// The settings chosen (valid after Accepted).
    TileSettings Chosen() const;
    /// What is wrong with the choice (empty when it is fine); OK says it
    /// and keeps the dialog open.
    QString Problem() const;

    QComboBox* Preset() const { return preset_; }
    QLineEdit* Key() const { return key_; }
    QLineEdit* Template() const { return url_; }
    QLineEdit* Overlay() const { return overlay_; }
    QCheckBox* AllowsKeeping() const { return keeping_; }
    QCheckBox* Offline() const { return offline_; }
    QListWidget* Packs() const { return packs_; }
    QPushButton* ClearCache() const { return clear_; }
    QPushButton* Keep() const { return keep_; }
    QPushButton* RemovePack() const { return remove_; }
    /// Why "Keep for offline" is greyed (hidden while it can be used).
    QLabel* KeepWhy() const { return keepWhy_; }
    QLabel* Message() const { return message_; }
    QSpinBox* KeepFrom() const { return keepFrom_; }
    QSpinBox* KeepTo() const { return keepTo_; }
    /// Writes the view's tiles to `path` (the file dialog's answer, given
    /// directly by tests); the pack joins the list when it is written.
    void KeepInto(const QString& path);
    /// The address fields' widest template shown whole (see the .cpp).
    static QString TypicalTemplate();
    /// Where the pack file dialogs open: beside the last pack listed, else
    /// the home folder (never the folder the program happened to start in).
    QString PackFolder() const;

    void accept() override;

private:
    void ShowPreset();
    /// A message about an earlier choice goes once the user changes it.
    void ForgetMessage();

    TileSettings base_;
    QRectF view_;
    QComboBox* preset_ = nullptr;
    QLineEdit* key_ = nullptr;
    QLabel* terms_ = nullptr;
    QLineEdit* url_ = nullptr;
    QLineEdit* overlay_ = nullptr;
    QLineEdit* attribution_ = nullptr;
    QCheckBox* keeping_ = nullptr;
    QListWidget* packs_ = nullptr;
    QCheckBox* offline_ = nullptr;
    QSpinBox* cache_ = nullptr;
    QPushButton* clear_ = nullptr;
    QPushButton* keep_ = nullptr;
    QPushButton* remove_ = nullptr;
    QLabel* keepWhy_ = nullptr;
    QSpinBox* keepFrom_ = nullptr;
    QSpinBox* keepTo_ = nullptr;
    QLabel* message_ = nullptr;
};

}  // namespace dorvane

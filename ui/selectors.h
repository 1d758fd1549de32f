#pragma once
// The two drop-down selectors in the panes' top-left corner: CIconComboBox
// (the device pane's link: serial port or USB, each with its picture) and
// CDeviceComboBox (the computer pane's mounted volumes, with the volume's
// icon and label). GUI thread only.

#include <QComboBox>
#include <QString>
#include <vector>

namespace dorvane {

class CIconComboBox : public QComboBox {
public:
    explicit CIconComboBox(QWidget* parent = nullptr);
    /// Replaces the items by `texts`; item i gets picture i of `icons`.
    void SetItems(const QStringList& texts, const std::vector<QIcon>& icons);
    /// Closes the list; the focus then moves on to the next control (the
    /// pane's list), as the Windows selectors do on close-up.
    void hidePopup() override;
};

/// One mounted volume as the drive selector shows it.
struct VolumeEntry {
    QString root;   ///< mount point, e.g. "/" or "/media/user/CARD"
    QString label;  ///< volume label or device name; may be empty
};

/// True for a mount the drive selector leaves out: the system's own and
/// virtual file systems (/proc, /sys, /run, /dev, /snap, /boot/efi; tmpfs and
/// the like anywhere but at the root). Removable drives that udisks2 mounts
/// under /run/media/<user>/ are real volumes.
bool IsPseudoMount(const QString& root, const QByteArray& fsType);

/// The mounted volumes worth showing: real, ready file systems (no /proc,
/// /sys, /run, /snap pseudo mounts), the root first, then by mount point.
std::vector<VolumeEntry> ListVolumes();

class CDeviceComboBox : public CIconComboBox {
public:
    explicit CDeviceComboBox(QWidget* parent = nullptr);
    /// Re-reads the mounted volumes.
    void Fill();
    /// Appends one volume (Fill adds each mounted one this way).
    void AddVolume(const VolumeEntry& volume);
    /// The volume whose mount point holds `path` (the longest matching
    /// root); -1 when none does.
    int IndexForPath(const QString& path) const;
    QString RootAt(int index) const;
};

}  // namespace dorvane

#include "ui/selectors.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileIconProvider>
#include <QStorageInfo>
#include <algorithm>

namespace dorvane {

namespace {
constexpr int kRootRole = Qt::UserRole + 1;
/// The drop-down is wider than the box, for the labels (as the Windows box's 35 pixels).
constexpr int kDropDownExtra = 35;
}  // namespace

bool IsPseudoMount(const QString& root, const QByteArray& fsType) {
    // udisks2 mounts removable drives under /run/media/<user>/ (and under
    // /media/<user>/ where it is set up to share them): real volumes.
    static const QString kRemovableMounts = QStringLiteral("/run/media/");
    if (root.startsWith(kRemovableMounts) && root.size() > kRemovableMounts.size()) return false;
    static const char* const kPseudoPrefixes[] = {"/proc", "/sys", "/run", "/dev", "/snap", "/boot/efi"};
    for (const char* p : kPseudoPrefixes) {
        const QString prefix = QString::fromLatin1(p);
        if (root == prefix || root.startsWith(prefix + u'/')) return true;
    }
    static const char* const kPseudoTypes[] = {"tmpfs", "devtmpfs", "overlay", "squashfs",
                                               "proc",  "sysfs",    "cgroup2"};
    return std::any_of(std::begin(kPseudoTypes), std::end(kPseudoTypes),
                       [&](const char* t) { return fsType == t; }) &&
           root != QStringLiteral("/");
}

CIconComboBox::CIconComboBox(QWidget* parent) : QComboBox(parent) {
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    setIconSize(QSize(16, 16));
}

void CIconComboBox::SetItems(const QStringList& texts, const std::vector<QIcon>& icons) {
    const QSignalBlocker block(this);
    clear();
    for (int i = 0; i < texts.size(); ++i)
        addItem(static_cast<std::size_t>(i) < icons.size() ? icons[static_cast<std::size_t>(i)]
                                                           : QIcon(),
                texts[i]);
}

void CIconComboBox::hidePopup() {
    QComboBox::hidePopup();
    // After the popup's own focus handling, so the move is the last word.
    // The window's focus widget, not hasFocus(): the window may not be
    // active again yet when the popup has just gone.
    QMetaObject::invokeMethod(this, [this] {
        if (window()->focusWidget() == this) focusNextChild();
    }, Qt::QueuedConnection);
}

std::vector<VolumeEntry> ListVolumes() {
    std::vector<VolumeEntry> out;
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
        if (!v.isValid() || !v.isReady()) continue;
        const QString root = v.rootPath();
        if (IsPseudoMount(root, v.fileSystemType())) continue;
        QString label = v.displayName();
        if (label == root) label.clear();
        out.push_back({root, label});
    }
    std::sort(out.begin(), out.end(), [](const VolumeEntry& a, const VolumeEntry& b) {
        if ((a.root == u'/') != (b.root == u'/')) return a.root == u'/';
        return a.root < b.root;
    });
    out.erase(std::unique(out.begin(), out.end(),
                          [](const auto& a, const auto& b) { return a.root == b.root; }),
              out.end());
    if (out.empty()) out.push_back({QStringLiteral("/"), {}});
    return out;
}

CDeviceComboBox::CDeviceComboBox(QWidget* parent) : CIconComboBox(parent) {
    // The drive letters and labels are drawn bold, in the box and its list.
    QFont f = font();
    f.setWeight(QFont::Bold);
    setFont(f);
}

void CDeviceComboBox::Fill() {
    const QSignalBlocker block(this);
    clear();
    for (const VolumeEntry& v : ListVolumes()) AddVolume(v);
}

void CDeviceComboBox::AddVolume(const VolumeEntry& v) {
    static const QIcon driveIcon = QFileIconProvider().icon(QFileIconProvider::Drive);
    const QSignalBlocker block(this);
    const QString text = v.label.isEmpty() ? v.root : v.root + QStringLiteral("  ") + v.label;
    addItem(driveIcon, text, v.root);
    setItemData(count() - 1, v.root, kRootRole);
    view()->setMinimumWidth(sizeHint().width() + kDropDownExtra);
}

int CDeviceComboBox::IndexForPath(const QString& path) const {
    const QString clean = QDir::cleanPath(path);
    int best = -1;
    qsizetype bestLen = -1;
    for (int i = 0; i < count(); ++i) {
        const QString root = RootAt(i);
        const bool inside = root == u'/' || clean == root || clean.startsWith(root + u'/');
        if (inside && root.size() > bestLen) {
            best = i;
            bestLen = root.size();
        }
    }
    return best;
}

QString CDeviceComboBox::RootAt(int index) const {
    return itemData(index, kRootRole).toString();
}

}  // namespace dorvane

#pragma once
// The desktop program's test rig: one frame on the offscreen platform,
// connected to an emulator serving a fresh folder, and small list helpers.

#include <QTemporaryDir>
#include <QTreeWidget>

#include <fstream>
#include <functional>
#include <memory>

#include "i18n/string_table.h"
#include "menus/commands.h"
#include "sim_process.h"
#include "transfer/dorvane_doc.h"
#include "ui/left_form_view.h"
#include "ui/main_frame.h"
#include "ui/right_form_view.h"
#include "ui/sort_list.h"
#include "ui/tile_fetcher.h"

namespace dorvane::test {

constexpr int kWaitMs = 15000;

/// Points HOME and the config folder at a scratch folder for the whole test
/// program, so no test touches the real profile, and puts back the default texts.
inline void UseScratchHome() {
    static QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    ResetToDefaults();
    // No map tiles unless a test serves its own: nothing in the tests goes on the network.
    SaveTileSettings(TileSettingsFor(QStringLiteral("none")));
}

inline void WriteFile(const QString& path, std::size_t size, char fill = 'x') {
    std::ofstream(path.toStdString(), std::ios::binary) << std::string(size, fill);
}

inline QStringList Column(const CSortListCtrl* list, int column) {
    QStringList out;
    for (int i = 0; i < list->RowCount(); ++i) out << list->CellText(i, column);
    return out;
}

inline void SelectNames(CSortListCtrl* list, const QStringList& names) {
    list->clearSelection();
    for (int i = 0; i < list->RowCount(); ++i)
        if (names.contains(list->CellText(i, 0))) list->Row(i).SetSelected(true);
}

/// One frame connected to an emulator serving a fresh folder.
struct Rig {
    QTemporaryDir device;
    QTemporaryDir computer;
    QStringList messages;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    std::unique_ptr<CSimProcess> sim;
    std::unique_ptr<CMainFrame> frame;
    CMainFrame::Hooks hooks;

    explicit Rig(const QStringList& simOptions = {}, std::function<void(const QString&)> fill = {}) {
        if (fill) {
            fill(device.path());
        } else {
            for (const char* n : {"N070101.gmt", "C070101.gmt"}) WriteFile(device.filePath(QString::fromLatin1(n)), 50);
            WriteFile(device.filePath(QStringLiteral("A.txt")), 10);
            WriteFile(device.filePath(QStringLiteral("B.txt")), 2500);
            WriteFile(device.filePath(QStringLiteral("C.txt")), 30);
        }
        sim = std::make_unique<CSimProcess>(device.path(), simOptions);
        hooks.messageBox = [this](QMessageBox::Icon, const QString& text, QMessageBox::StandardButtons buttons) {
            messages << text;
            return buttons.testFlag(QMessageBox::Yes) ? int(answer) : int(QMessageBox::Ok);
        };
        CDorvaneDoc::Options o;
        o.persistSettings = false;
        o.listingTimeoutMs = 2000;
        o.portList = [] { return std::vector<std::string>{}; };
        frame = std::make_unique<CMainFrame>(o, hooks);
        frame->resize(1000, 600);
        frame->show();
        frame->ComputerPane()->ListFolder(computer.path());
    }

    bool Connect() {
        if (sim->Pty().isEmpty()) return false;
        frame->Doc().SetPreferredPort(sim->Pty().toStdString(), true);
        frame->RunCommand(cmd::kConnect);
        return frame->Doc().IsConnected();
    }
    CSortListCtrl* DeviceList() { return frame->DevicePane()->List(); }
    CSortListCtrl* ComputerList() { return frame->ComputerPane()->List(); }
    void ActivateDevice() { frame->SetActivePane(frame->DevicePane()); }
};

}  // namespace dorvane::test

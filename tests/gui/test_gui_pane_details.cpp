// Details of the two panes as a person meets them, with real clicks and keys:
// the delete questions and the selection count in every language (and with a
// language file that lacks their keys), the computer list's rename by a
// second click, where the caption's text sits and the drive selector's bold
// font. Offscreen platform, against dorvane-sim.
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
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

CListRow RowNamed(CSortListCtrl* list, const QString& name) {
    for (int i = 0; i < list->RowCount(); ++i)
        if (list->CellText(i, 0) == name) return list->Row(i);
    return {};
}

bool ClickRow(CSortListCtrl* list, const QString& name, Qt::KeyboardModifiers mods = {}) {
    const CListRow row = RowNamed(list, name);
    if (!row) return false;
    Click(list->viewport(), list->RowRect(row).center(), mods);
    return true;
}

/// Clicks the first `n` of `names`, the first plainly and the rest with Ctrl.
bool ClickRows(CSortListCtrl* list, const QStringList& names, int n) {
    for (int i = 0; i < n; ++i)
        if (!ClickRow(list, names[i], i == 0 ? Qt::NoModifier : Qt::ControlModifier)) return false;
    return list->SelectedCount() == n;
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

/// The box around the pixels of `img` inside `area` that are nearer to
/// `text` than to `fill`: the ink of the text drawn there.
QRect InkBox(const QImage& img, QRect area, const QColor& text, const QColor& fill) {
    auto distance = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
               std::abs(a.blue() - b.blue());
    };
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (distance(c, text) < distance(c, fill)) box |= QRect(x, y, 1, 1);
        }
    return box;
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

    // A second click on the row that is already selected starts the rename,
    // as F2 does, once the double-click time has passed without another
    // click; a double click opens instead, a first click only selects.
    void secondClickRenames_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("row");
        QTest::addColumn<bool>("renames");
        QTest::newRow("second click") << "second click"
                                      << "a.txt" << true;
        QTest::newRow("F2") << "F2"
                            << "a.txt" << true;
        QTest::newRow("first click only") << "first click"
                                          << "b.txt" << false;
        QTest::newRow("second click with Ctrl") << "ctrl click"
                                                << "a.txt" << false;
        QTest::newRow("double click on the selected folder") << "double click"
                                                             << "sub" << false;
    }
    void secondClickRenames() {
        QFETCH(QString, how);
        QFETCH(QString, row);
        QFETCH(bool, renames);
        Rig rig;
        WriteFile(rig.computer.filePath(QStringLiteral("a.txt")), 3);
        WriteFile(rig.computer.filePath(QStringLiteral("b.txt")), 3);
        QVERIFY(QDir(rig.computer.path()).mkpath(QStringLiteral("sub")));
        rig.frame->ComputerPane()->Refresh();
        QVERIFY(Activate(*rig.frame));
        CSortListCtrl* list = rig.ComputerList();
        const int interval = QApplication::doubleClickInterval();
        const QString first = how == QStringLiteral("double click") ? row : QStringLiteral("a.txt");
        QVERIFY(ClickRow(list, first));
        // The click that selected the row starts nothing, however long one waits.
        QTest::qWait(interval + 100);
        QVERIFY(!list->Editing());
        QVERIFY(RowNamed(list, first).IsSelected());

        if (how == QStringLiteral("second click")) {
            QVERIFY(ClickRow(list, row));
            QVERIFY(!list->Editing());  // it could still become a double click
        } else if (how == QStringLiteral("F2")) {
            Key(Qt::Key_F2);
        } else if (how == QStringLiteral("first click")) {
            QVERIFY(ClickRow(list, row));
        } else if (how == QStringLiteral("ctrl click")) {
            QVERIFY(ClickRow(list, row, Qt::ControlModifier));
        } else {
            const QPoint at = list->RowRect(RowNamed(list, row)).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
            QTest::mouseRelease(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
            QTRY_COMPARE_WITH_TIMEOUT(rig.frame->ComputerPane()->Folder(),
                                      QDir::cleanPath(rig.computer.filePath(row)) + u'/', kWaitMs);
        }
        QTest::qWait(interval + 200);
        QCOMPARE(list->Editing(), renames);
        if (!renames) return;
        // The editor is the rename's: a new name and Return rename the file.
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QCOMPARE(editor->text(), row);
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, QStringLiteral("renamed.txt"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo::exists(rig.computer.filePath(QStringLiteral("renamed.txt"))), kWaitMs);
        QVERIFY(!QFileInfo::exists(rig.computer.filePath(row)));
    }

    // The caption's text is drawn in the strip moved 3 pixels right and 3
    // down, vertically centred there: read from the pane's pixels.
    void captionTextSitsThreeRightThreeDown_data() {
        QTest::addColumn<bool>("active");
        QTest::newRow("active pane") << true;
        QTest::newRow("inactive pane") << false;
    }
    void captionTextSitsThreeRightThreeDown() {
        QFETCH(bool, active);
        Rig rig;
        QVERIFY(Activate(*rig.frame));
        CRightFormView* pane = rig.frame->ComputerPane();
        rig.frame->SetActivePane(active ? static_cast<CListFormView*>(pane)
                                        : rig.frame->DevicePane());
        QCOMPARE(pane->IsActive(), active);
        const QImage img = pane->grab().toImage();
        const QRect strip = pane->CaptionRect();
        QVERIFY(strip.height() > 10 && strip.width() > 100);
        const QColor fill = active ? pane->palette().color(QPalette::Active, QPalette::Highlight)
                                   : QColor(0x80, 0x80, 0x80);
        const QColor text = active ? QColor(Qt::white) : QColor(0xD4, 0xD0, 0xC8);
        // Inside the strip's frame lines.
        const QRect ink = InkBox(img, strip.adjusted(1, 1, -1, -1), text, fill);
        QVERIFY2(!ink.isEmpty(), "no caption text drawn");

        QFont f = pane->font();
        f.setBold(true);
        const QFontMetrics fm(f);
        const QString caption = pane->GetCaption();
        const QRect moved = strip.translated(3, 3);
        const int baseline = moved.top() + (moved.height() - fm.height()) / 2 + fm.ascent();
        const QRect glyphs = fm.tightBoundingRect(caption.left(1));
        const QRect expected = fm.tightBoundingRect(caption).translated(moved.left(), baseline);
        constexpr int kSlack = 1;  // rounding of the centring and antialiased edges
        QVERIFY2(std::abs(ink.left() - (moved.left() + glyphs.left())) <= kSlack,
                 qPrintable(QStringLiteral("ink starts at x %1, the strip at %2")
                                .arg(ink.left())
                                .arg(strip.left())));
        QVERIFY2(std::abs(ink.top() - expected.top()) <= kSlack &&
                     std::abs(ink.bottom() - expected.bottom()) <= kSlack,
                 qPrintable(QStringLiteral("ink rows %1..%2, expected %3..%4")
                                .arg(ink.top())
                                .arg(ink.bottom())
                                .arg(expected.top())
                                .arg(expected.bottom())));
    }

    // The drive selector shows its drives in bold (weight 700), in the box
    // and in its list.
    void driveSelectorIsBold() {
        Rig rig;
        CDeviceComboBox* drives = rig.frame->ComputerPane()->DriveSelector();
        QCOMPARE(drives->font().weight(), QFont::Bold);
        QCOMPARE(static_cast<int>(drives->font().weight()), 700);
        QCOMPARE(drives->view()->font().weight(), QFont::Bold);
        QVERIFY(drives->count() > 0);
    }
};

QTEST_MAIN(TestGuiPaneDetails)
#include "test_gui_pane_details.moc"

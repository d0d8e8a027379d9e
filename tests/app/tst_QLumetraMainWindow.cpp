#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QValidator>
#include <QtTest>
#include <memory>

#include "AppTestSupport.h"
#include "app/QLumetraComparisonViewer.h"
#include "app/QLumetraErrorMapDialog.h"
#include "app/QLumetraMainWindow.h"

using namespace lumetra;
using namespace lumetra::testing;

namespace {

// Side of the test images: small, and not square so that rows and columns cannot be mixed up.
constexpr int kRows = 4;
constexpr int kCols = 6;

// A window with a recording engine, scripted dialogs and a folder of small images.  Tests
// that look at the window during a batch hold the engine at the gate.
struct Harness {
    QTemporaryDir dir;
    Gate gate;
    std::shared_ptr<EngineLog> log = std::make_shared<EngineLog>();
    FakeFileChooser* chooser = nullptr;     // owned by the window
    RecordingNotifier* notifier = nullptr;  // owned by the window
    std::unique_ptr<QLumetraMainWindow> window;

    Harness() {
        auto ownedChooser = std::make_unique<FakeFileChooser>();
        auto ownedNotifier = std::make_unique<RecordingNotifier>();
        chooser = ownedChooser.get();
        notifier = ownedNotifier.get();
        window = std::make_unique<QLumetraMainWindow>(fakeEngine(log), std::move(ownedChooser),
                                                      std::move(ownedNotifier));
    }
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;
    // A test that stopped early may have left the worker at the gate; the window waits for it.
    ~Harness() {
        gate.open();
        window.reset();
    }

    QString image(const QString& name, int rows = kRows, int cols = kCols) {
        return writePpm(dir.path(), name, rows, cols);
    }

    // Chooses the files the way a user would and triggers "&New"; the batch goes on in the
    // background.
    void runFromMenu(const QString& original, const QStringList& degraded) {
        chooser->originalAnswer = original;
        chooser->degradedAnswer = degraded;
        action("actionNew")->trigger();
    }

    // The same, then waits, the event loop running, until the batch has finished.
    [[nodiscard]] bool runToEnd(const QString& original, const QStringList& degraded) {
        QSignalSpy finished(window.get(), &QLumetraMainWindow::batchFinished);
        runFromMenu(original, degraded);
        return finished.count() > 0 || finished.wait();
    }

    // The status bar's progress bar as "value of maximum".
    QString progress() const {
        const auto bars = window->findChildren<QProgressBar*>();
        if (bars.size() != 1) return QStringLiteral("%1 progress bars").arg(bars.size());
        return QStringLiteral("%1 of %2").arg(bars[0]->value()).arg(bars[0]->maximum());
    }

    template <typename T>
    T* child(const char* name) const {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    QAction* action(const char* name) const { return child<QAction>(name); }
    QTableWidget* table() const { return child<QTableWidget>("tableWidget"); }
    QStatusBar* statusBar() const { return child<QStatusBar>("statusBar"); }
    QString cell(int row, int column) const { return table()->item(row, column)->text(); }
};

QList<QLumetraErrorMapDialog*> openErrorMaps() {
    QList<QLumetraErrorMapDialog*> maps;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* map = qobject_cast<QLumetraErrorMapDialog*>(w)) maps << map;
    }
    return maps;
}

}  // namespace

class tst_QLumetraMainWindow : public QObject {
    Q_OBJECT

  private slots:
    void cleanup();

    void freshWindowShowsDefaults();
    void formFollowsItsLayout();
    void fieldsAcceptOnlyNumbersTheRunReads_data();
    void fieldsAcceptOnlyNumbersTheRunReads();
    void defaultRunPassesParametersToEngine();
    void unusableFieldStartsNoBatch_data();
    void unusableFieldStartsNoBatch();
    void twoUnusableFieldsAreNamedTogether();
    void threeFilesGiveThreeRowsInOrder();
    void doubleClickOrEnterOpensThatRowsViewer();
    void errorMapWindowIsDeletedWhenClosed();
    void cancellingOriginalDialogStartsNothing();
    void failingStartWarnsAndKeepsResults_data();
    void failingStartWarnsAndKeepsResults();
    void cancellingDegradedDialogEmptiesTable();
    void oldRowsStayUntilEngineIsBuilt();
    void failedFileGetsErrorRow_data();
    void failedFileGetsErrorRow();
    void newIsDisabledWhileBatchRuns();
    void eventLoopRunsWhileFileIsScored();
    void cancelStopsAfterFileInProgress();
    void cancelWhileEngineIsBuiltKeepsPreviousResults();
    void closingDuringBatchStopsAfterFileInProgress();
    void exportWritesTableAsCsv();
    void exportToUnwritablePathWarns();
};

void tst_QLumetraMainWindow::cleanup() {
    qDeleteAll(openErrorMaps());
}

void tst_QLumetraMainWindow::freshWindowShowsDefaults() {
    const Harness h;
    const QStringList fields = {"lineEditAlpha", "lineEditBeta", "lineEditCo", "lineEditA",
                                "lineEditB"};
    const QStringList defaults = {"1", "4", "5", "0.000751", "3.8"};
    for (int k = 0; k < fields.size(); ++k) {
        const auto* field = h.child<QLineEdit>(qPrintable(fields[k]));
        QVERIFY2(field, qPrintable(fields[k]));
        QCOMPARE(field->text(), defaults[k]);
    }
    for (const char* intra : {"checkBoxIntraA", "checkBoxIntraC1", "checkBoxIntraC2"}) {
        QVERIFY2(h.child<QCheckBox>(intra)->isChecked(), intra);
        QVERIFY2(h.child<QCheckBox>(intra)->isEnabled(), intra);
    }
    for (const char* inter : {"checkBoxInterA", "checkBoxInterC1", "checkBoxInterC2"}) {
        QVERIFY2(!h.child<QCheckBox>(inter)->isChecked(), inter);
        QVERIFY2(!h.child<QCheckBox>(inter)->isEnabled(), inter);
    }
    QTableWidget* table = h.table();
    QCOMPARE(table->columnCount(), 3);
    QCOMPARE(table->rowCount(), 0);
    QStringList headers;
    for (int c = 0; c < 3; ++c) headers << table->horizontalHeaderItem(c)->text();
    QCOMPARE(headers, QStringList({"File name", "Measure", "Score"}));
    QVERIFY(table->verticalHeader()->isHidden());
    QCOMPARE(h.window->windowTitle(), QStringLiteral("QLumetraMainWindow"));
    QVERIFY(h.action("actionNew")->isEnabled());
    QVERIFY(!h.action("actionExportResults")->isEnabled());  // nothing to export yet
}

void tst_QLumetraMainWindow::formFollowsItsLayout() {
    const Harness h;
    QCOMPARE(h.window->objectName(), QStringLiteral("QLumetraMainWindow"));
    QVERIFY(h.window->width() >= 467 && h.window->height() >= 425);
    QCOMPARE(h.window->font().family(), QStringLiteral("Lucida Grande"));
    QCOMPARE(h.window->font().pointSize(), 13);
    QVERIFY(!h.window->font().bold() && !h.window->font().italic());

    const auto* menu = h.child<QMenu>("menuFile");
    QCOMPARE(menu->title(), QStringLiteral("&Comparison"));
    QCOMPARE(menu->actions(),
             QList<QAction*>({h.action("actionNew"), h.action("actionExportResults")}));
    QCOMPARE(h.action("actionNew")->text(), QStringLiteral("&New"));
    QVERIFY(h.action("actionNew")->shortcut().isEmpty());
    QCOMPARE(h.action("actionExportResults")->text(), QStringLiteral("&Export results…"));
    QCOMPARE(h.child<QGroupBox>("groupBox")->title(), QStringLiteral("Measure parameters"));
    QCOMPARE(h.child<QGroupBox>("groupBox_3")->title(), QStringLiteral("Mask parameters"));

    // Where each widget sits in its grid, and the label texts.
    struct Place {
        const char* layout;
        const char* widget;
        int row;
        int column;
    };
    const Place places[] = {
        {"gridLayout", "groupBox", 0, 0},         {"gridLayout", "groupBox_3", 0, 1},
        {"gridLayout", "tableWidget", 1, 0},      {"gridLayout1", "label", 0, 0},
        {"gridLayout1", "lineEditAlpha", 0, 1},   {"gridLayout1", "label_4", 0, 2},
        {"gridLayout1", "lineEditA", 0, 3},       {"gridLayout1", "label_2", 1, 0},
        {"gridLayout1", "lineEditBeta", 1, 1},    {"gridLayout1", "label_5", 1, 2},
        {"gridLayout1", "lineEditB", 1, 3},       {"gridLayout1", "label_3", 2, 0},
        {"gridLayout1", "lineEditCo", 2, 1},      {"gridLayout2", "checkBoxIntraA", 0, 0},
        {"gridLayout2", "checkBoxInterA", 0, 1},  {"gridLayout2", "checkBoxIntraC1", 1, 0},
        {"gridLayout2", "checkBoxInterC1", 1, 1}, {"gridLayout2", "checkBoxIntraC2", 2, 0},
        {"gridLayout2", "checkBoxInterC2", 2, 1},
    };
    for (const Place& p : places) {
        auto* grid = h.child<QGridLayout>(p.layout);
        QVERIFY2(grid, p.layout);
        int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(grid->indexOf(h.child<QWidget>(p.widget)), &row, &column, &rowSpan,
                              &columnSpan);
        QVERIFY2(row == p.row && column == p.column, p.widget);
    }
    const QStringList labelTexts = {"Alpha :", "Beta :", "Co :", "a :", "b :"};
    const QStringList labelNames = {"label", "label_2", "label_3", "label_4", "label_5"};
    for (int k = 0; k < labelNames.size(); ++k) {
        const auto* label = h.child<QLabel>(qPrintable(labelNames[k]));
        QCOMPARE(label->text(), labelTexts[k]);
        QCOMPARE(label->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    }
    QVERIFY(!h.child<QLineEdit>("lineEditA")->acceptDrops());
    QVERIFY(!h.child<QLineEdit>("lineEditB")->acceptDrops());

    QTableWidget* table = h.table();
    QVERIFY(table->alternatingRowColors());
    // The results are read-only: a double-click opens a map, a keystroke edits nothing.
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(table->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(table->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(table->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    // Only the file name column takes up the width the window gains.
    QCOMPARE(table->horizontalHeader()->sectionResizeMode(0), QHeaderView::Stretch);
    QCOMPARE(table->horizontalHeader()->sectionResizeMode(1), QHeaderView::Interactive);
    QCOMPARE(table->horizontalHeader()->sectionResizeMode(2), QHeaderView::Interactive);
}

void tst_QLumetraMainWindow::fieldsAcceptOnlyNumbersTheRunReads_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("state");
    const int acceptable = QValidator::Acceptable;
    const int intermediate = QValidator::Intermediate;
    const int invalid = QValidator::Invalid;
    for (const char* field :
         {"lineEditAlpha", "lineEditBeta", "lineEditCo", "lineEditA", "lineEditB"}) {
        const QString f = QString::fromLatin1(field);
        QTest::addRow("%s decimal", field) << f << "0.000751" << acceptable;
        QTest::addRow("%s negative", field) << f << "-2.5" << acceptable;
        QTest::addRow("%s exponent", field) << f << "1e3" << acceptable;
        QTest::addRow("%s lone minus", field) << f << "-" << intermediate;
        QTest::addRow("%s letters", field) << f << "abc" << invalid;
        // Not numbers to readFloat, which the run reads the fields with.
        QTest::addRow("%s group separator", field) << f << "1,000" << invalid;
        QTest::addRow("%s decimal comma", field) << f << "3,8" << invalid;
    }
}

void tst_QLumetraMainWindow::fieldsAcceptOnlyNumbersTheRunReads() {
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(int, state);
    const Harness h;
    const auto* edit = h.child<QLineEdit>(qPrintable(field));
    const QValidator* validator = edit->validator();
    QVERIFY(validator);
    QCOMPARE(validator->parent(), edit);
    int position = 0;
    QCOMPARE(static_cast<int>(validator->validate(text, position)), state);
}

void tst_QLumetraMainWindow::defaultRunPassesParametersToEngine() {
    Harness h;
    QVERIFY(h.runToEnd(h.image("original.ppm"), {h.image("b.ppm")}));
    QCOMPARE(h.log->builds.size(), std::size_t{1});
    // The default texts are the shortest that read back as the default floats, so the run
    // gets Parameters{} bit for bit.
    QVERIFY(h.log->builds[0] == Parameters{});
}

void tst_QLumetraMainWindow::unusableFieldStartsNoBatch_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reason");
    // Texts a field can hold on the way to a number: no number yet.
    QTest::newRow("empty alpha") << "lineEditAlpha"
                                 << ""
                                 << "alpha must be a number (got \"\")";
    QTest::newRow("lone minus b") << "lineEditB"
                                  << "-"
                                  << "b must be a number (got \"-\")";
    QTest::newRow("bare exponent co") << "lineEditCo"
                                      << "1e"
                                      << "co must be a number (got \"1e\")";
    // Numbers that Parameters refuses, in its words.
    QTest::newRow("zero beta") << "lineEditBeta"
                               << "0"
                               << "beta must be greater than 0 (got 0)";
    QTest::newRow("negative alpha") << "lineEditAlpha"
                                    << "-2.5"
                                    << "alpha must be at least 0 (got -2.5)";
    QTest::newRow("zero a") << "lineEditA"
                            << "0"
                            << "a must be other than 0 (got 0)";
    QTest::newRow("float overflow") << "lineEditB"
                                    << "1e39"
                                    << "b must be a number (got \"1e39\")";
}

void tst_QLumetraMainWindow::unusableFieldStartsNoBatch() {
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, reason);
    Harness h;
    h.child<QLineEdit>(qPrintable(field))->setText(text);
    QSignalSpy finished(h.window.get(), &QLumetraMainWindow::batchFinished);
    QVERIFY(finished.isValid());

    h.runFromMenu(h.image("original.ppm"), {h.image("b.ppm")});

    QCOMPARE(h.notifier->warnings, QStringList({"Cannot start the comparison.\n\n" + reason}));
    QVERIFY(h.log->builds.empty());
    QCOMPARE(finished.count(), 0);  // no batch, so no end of one
    QVERIFY(h.action("actionNew")->isEnabled());
    QCOMPARE(h.window->windowTitle(), QStringLiteral("QLumetraMainWindow"));
    QCOMPARE(h.child<QLineEdit>(qPrintable(field))->text(), text);  // left for the user to mend
}

void tst_QLumetraMainWindow::twoUnusableFieldsAreNamedTogether() {
    Harness h;
    h.child<QLineEdit>("lineEditAlpha")->setText("");
    h.child<QLineEdit>("lineEditB")->setText("-");
    h.window->runBatch(h.image("original.ppm"), {h.image("b.ppm")});
    QCOMPARE(h.notifier->warnings,
             QStringList({"Cannot start the comparison.\n\nalpha must be a number (got \"\"); "
                          "b must be a number (got \"-\")"}));
    QVERIFY(h.log->builds.empty());
}

void tst_QLumetraMainWindow::threeFilesGiveThreeRowsInOrder() {
    Harness h;
    h.log->results = {markedComparison(1234567.0f, 4.0f, kRows, kCols),
                      markedComparison(0.5f, 4.0f, kRows, kCols),
                      markedComparison(2.0f, 3.25f, kRows, kCols)};
    h.log->onBuild = [&] { h.gate.enter(); };
    h.log->onScore = [&] { h.gate.enter(); };
    const QString original = h.image("original.ppm");
    const QStringList degraded = {h.image("z.ppm"), h.image("a.ppm"), h.image("m.ppm")};
    QSignalSpy finished(h.window.get(), &QLumetraMainWindow::batchFinished);
    QVERIFY(finished.isValid());

    h.runFromMenu(original, degraded);

    QTRY_COMPARE(h.gate.arrived(), 1);  // the engine is being built
    QCOMPARE(h.statusBar()->currentMessage(), QStringLiteral("Initializing lumetra"));
    for (int file = 0; file < 3; ++file) {
        h.gate.letThrough();
        QTRY_COMPARE(h.gate.arrived(), file + 2);  // file `file` is being scored
        // The bar counts the files done before it, and their rows are in.
        QTRY_COMPARE(h.progress(), QStringLiteral("%1 of 3").arg(file));
        QCOMPARE(h.table()->rowCount(), file);
        QVERIFY(h.window->findChild<QProgressBar*>()->isTextVisible());
    }
    h.gate.letThrough();
    QVERIFY(finished.wait());
    QVERIFY(h.window->findChildren<QProgressBar*>().isEmpty());
    QVERIFY(h.statusBar()->currentMessage().isEmpty());
    QCOMPARE(h.window->windowTitle(), original);
    QTableWidget* table = h.table();
    QCOMPARE(table->rowCount(), 3);
    const QStringList expected[] = {
        {degraded[0], "1.23457e+06", "4"}, {degraded[1], "0.5", "4"}, {degraded[2], "2", "3.25"}};
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(QStringList({h.cell(row, 0), h.cell(row, 1), h.cell(row, 2)}), expected[row]);
    }
    QVERIFY(h.action("actionNew")->isEnabled());
    QVERIFY(h.action("actionExportResults")->isEnabled());
}

void tst_QLumetraMainWindow::doubleClickOrEnterOpensThatRowsViewer() {
    Harness h;
    for (std::uint32_t k = 0; k < 3; ++k) {
        h.log->results.push_back(markedComparison(1.0f + k, 4.0f, kRows, kCols, k));
    }
    QVERIFY(h.runToEnd(h.image("original.ppm"),
                       {h.image("first.ppm"), h.image("second.ppm"), h.image("third.ppm")}));
    h.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));

    QTableWidget* table = h.table();
    const QRect cell = table->visualItemRect(table->item(2, 1));  // any column of row 2
    // A real double-click: press and release, then the double-click event and its release.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());

    const auto viewers = h.window->findChildren<QLumetraComparisonViewer*>();
    QCOMPARE(viewers.size(), 1);
    QCOMPARE(viewers[0]->windowTitle(), QString("original.ppm vs third.ppm: measure 3, score 4"));
    QVERIFY(viewers[0]->isVisible() && viewers[0]->isWindow());
    QVERIFY(viewers[0]->testAttribute(Qt::WA_DeleteOnClose));
    // The images are 4 x 6, too small to explain: the viewer says so and stops computing.
    QTRY_VERIFY(!viewers[0]->computing());

    // Enter on the current row opens its viewer too.
    h.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
    table->setFocus();
    table->setCurrentCell(0, 0);
    QTest::keyClick(table, Qt::Key_Return);
    const auto both = h.window->findChildren<QLumetraComparisonViewer*>();
    QCOMPARE(both.size(), 2);
    QVERIFY(both[1]->windowTitle().startsWith("original.ppm vs first.ppm: "));
    QTRY_VERIFY(!both[1]->computing());
}

void tst_QLumetraMainWindow::errorMapWindowIsDeletedWhenClosed() {
    Harness h;
    h.log->results = {markedComparison(1.0f, 4.0f, kRows, kCols)};
    QVERIFY(h.runToEnd(h.image("original.ppm"), {h.image("b.ppm")}));
    QPointer<QLumetraErrorMapDialog> first = h.window->openErrorMap(0);
    QPointer<QLumetraErrorMapDialog> second = h.window->openErrorMap(0);
    QVERIFY(first && second && first != second);  // every double-click opens another window
    QVERIFY(first->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(!first->testAttribute(Qt::WA_QuitOnClose));  // the main window alone ends the program
    first->close();
    QTRY_VERIFY(first.isNull());
    QVERIFY(!second.isNull());
    QCOMPARE(h.window->openErrorMap(1), nullptr);  // no such row
    h.window.reset();                              // maps still open end with the window
    QVERIFY(second.isNull());
}

void tst_QLumetraMainWindow::cancellingOriginalDialogStartsNothing() {
    Harness h;
    h.log->results = {markedComparison(0.5f, 4.0f, kRows, kCols)};
    const QString original = h.image("original.ppm");
    QVERIFY(h.runToEnd(original, {h.image("b.ppm")}));

    h.runFromMenu(QString(), {h.image("c.ppm")});

    QCOMPARE(h.chooser->originalAsked, 2);
    QCOMPARE(h.chooser->degradedAsked, 1);  // not asked after the cancel
    QCOMPARE(h.log->builds.size(), std::size_t{1});
    QCOMPARE(h.table()->rowCount(), 1);
    QCOMPARE(h.window->windowTitle(), original);
    QVERIFY(h.notifier->warnings.isEmpty());
    QVERIFY(h.action("actionNew")->isEnabled());
}

void tst_QLumetraMainWindow::failingStartWarnsAndKeepsResults_data() {
    QTest::addColumn<bool>("originalReadable");
    QTest::newRow("unreadable original") << false;
    QTest::newRow("engine cannot be built") << true;
}

void tst_QLumetraMainWindow::failingStartWarnsAndKeepsResults() {
    QFETCH(bool, originalReadable);
    Harness h;
    h.log->results = {markedComparison(0.5f, 4.0f, kRows, kCols)};
    const QString original = h.image("original.ppm");
    const QString degraded = h.image("b.ppm");
    QVERIFY(h.runToEnd(original, {degraded}));

    const QString broken =
        originalReadable ? h.image("tiny.ppm", 1, 1) : QDir(h.dir.path()).filePath("gone.ppm");
    h.log->failBuild = originalReadable;
    QVERIFY(h.runToEnd(broken, {h.image("c.ppm"), h.image("d.ppm")}));

    QCOMPARE(h.notifier->warnings.size(), 1);
    QVERIFY2(h.notifier->warnings[0].contains(broken), qPrintable(h.notifier->warnings[0]));
    QCOMPARE(h.table()->rowCount(), 1);
    QCOMPARE(h.cell(0, 0), degraded);
    QCOMPARE(h.window->windowTitle(), original);
    QVERIFY(h.statusBar()->currentMessage().isEmpty());
    QVERIFY(h.action("actionNew")->isEnabled());
    // The old row still opens the old map.
    const QLumetraErrorMapDialog* map = h.window->openErrorMap(0);
    QVERIFY(map);
    QCOMPARE(map->windowTitle(), original + " - " + degraded);
}

void tst_QLumetraMainWindow::cancellingDegradedDialogEmptiesTable() {
    Harness h;
    h.log->results = {markedComparison(0.5f, 4.0f, kRows, kCols)};
    QVERIFY(h.runToEnd(h.image("original.ppm"), {h.image("b.ppm")}));
    QVERIFY(h.runToEnd(h.image("other.ppm"), {}));
    QCOMPARE(h.log->builds.size(), std::size_t{2});  // the engine is still built
    QCOMPARE(h.table()->rowCount(), 0);
    QVERIFY(h.window->findChildren<QProgressBar*>().isEmpty());
    QCOMPARE(h.window->openErrorMap(0), nullptr);
}

void tst_QLumetraMainWindow::oldRowsStayUntilEngineIsBuilt() {
    Harness h;
    h.log->results = {markedComparison(0.5f, 4.0f, kRows, kCols)};
    QVERIFY(h.runToEnd(h.image("original.ppm"), {h.image("a.ppm"), h.image("b.ppm")}));
    h.log->onBuild = [&] { h.gate.enter(); };
    h.log->onScore = [&] { h.gate.enter(); };
    QSignalSpy finished(h.window.get(), &QLumetraMainWindow::batchFinished);

    h.runFromMenu(h.image("original2.ppm"), {h.image("c.ppm")});

    QTRY_COMPARE(h.gate.arrived(), 1);  // the engine is being built
    QCOMPARE(h.table()->rowCount(), 2);
    h.gate.letThrough();
    QTRY_COMPARE(h.gate.arrived(), 2);  // the first file is being scored
    QTRY_COMPARE(h.table()->rowCount(), 0);
    h.gate.letThrough();
    QVERIFY(finished.wait());
    QCOMPARE(h.table()->rowCount(), 1);
}

void tst_QLumetraMainWindow::failedFileGetsErrorRow_data() {
    QTest::addColumn<bool>("fileExists");
    QTest::newRow("unreadable file") << false;
    QTest::newRow("size differs from the original") << true;
}

void tst_QLumetraMainWindow::failedFileGetsErrorRow() {
    QFETCH(bool, fileExists);
    Harness h;
    h.log->results = {markedComparison(0.5f, 4.0f, kRows, kCols, 0),
                      markedComparison(2.0f, 3.0f, kRows, kCols, 1)};
    const QString bad =
        fileExists ? h.image("bad.ppm", kCols, kRows) : QDir(h.dir.path()).filePath("missing.ppm");
    const QString original = h.image("original.ppm");
    const QStringList degraded = {h.image("a.ppm"), bad, h.image("c.ppm")};
    QVERIFY(h.runToEnd(original, degraded));

    QCOMPARE(h.log->scored, QStringList({degraded[0], degraded[2]}));  // the batch went on
    QCOMPARE(h.table()->rowCount(), 3);
    QCOMPARE(QStringList({h.cell(1, 0), h.cell(1, 1), h.cell(1, 2)}),
             QStringList({bad, "error", ""}));
    const QString reason = h.table()->item(1, 1)->toolTip();
    QVERIFY2(reason.contains(bad), qPrintable(reason));
    QCOMPARE(h.table()->item(1, 0)->toolTip(), reason);
    // The rows after it still belong to their own files and results.
    QCOMPARE(QStringList({h.cell(2, 0), h.cell(2, 1)}), QStringList({degraded[2], "2"}));
    QVERIFY(h.table()->item(2, 1)->toolTip().isEmpty());
    QCOMPARE(h.window->openErrorMap(1), nullptr);
    const QLumetraErrorMapDialog* third = h.window->openErrorMap(2);
    QVERIFY(third);
    QCOMPARE(third->windowTitle(), original + " - " + degraded[2]);
    QCOMPARE(third->findChild<QLabel*>("label")->pixmap().toImage().pixel(1, 0), qRgb(0, 0, 255));
    QCOMPARE(h.statusBar()->currentMessage(), QStringLiteral("1 of 3 files failed"));
    QVERIFY(h.notifier->warnings.isEmpty());
}

void tst_QLumetraMainWindow::newIsDisabledWhileBatchRuns() {
    Harness h;
    h.log->results = {markedComparison(0.5f, 4.0f, kRows, kCols)};
    const QString original = h.image("original.ppm");
    h.log->onScore = [&] { h.gate.enter(); };
    QSignalSpy finished(h.window.get(), &QLumetraMainWindow::batchFinished);
    h.runFromMenu(original, {h.image("a.ppm"), h.image("b.ppm")});
    QVERIFY(!h.action("actionNew")->isEnabled());
    for (int file = 0; file < 2; ++file) {
        QTRY_COMPARE(h.gate.arrived(), file + 1);
        QVERIFY(!h.action("actionNew")->isEnabled());
        QVERIFY(!h.action("actionExportResults")->isEnabled());
        h.action("actionNew")->trigger();                       // ignored: disabled
        h.window->runBatch(original, {h.image("nested.ppm")});  // ignored: already running
        h.gate.letThrough();
    }
    QVERIFY(finished.wait());
    QCOMPARE(h.chooser->originalAsked, 1);
    QCOMPARE(h.log->builds.size(), std::size_t{1});
    QCOMPARE(h.table()->rowCount(), 2);
    QVERIFY(h.action("actionNew")->isEnabled());
}

void tst_QLumetraMainWindow::eventLoopRunsWhileFileIsScored() {
    Harness h;
    h.log->onScore = [&] { h.gate.enter(); };
    h.runFromMenu(h.image("original.ppm"), {h.image("a.ppm"), h.image("b.ppm")});
    QTRY_COMPARE(h.gate.arrived(), 1);

    // The worker is held inside the first file; the window's thread goes on with its events.
    bool timerFired = false;
    QTimer::singleShot(0, h.window.get(), [&] { timerFired = true; });
    QTRY_VERIFY(timerFired);
    QTRY_COMPARE(h.progress(), QStringLiteral("0 of 2"));
    QCOMPARE(h.gate.arrived(), 1);
    QVERIFY(h.log->scored.isEmpty());

    QSignalSpy finished(h.window.get(), &QLumetraMainWindow::batchFinished);
    h.gate.open();
    QVERIFY(finished.wait());
    QCOMPARE(h.table()->rowCount(), 2);
}

void tst_QLumetraMainWindow::cancelStopsAfterFileInProgress() {
    Harness h;
    for (std::uint32_t k = 0; k < 3; ++k) {
        h.log->results.push_back(markedComparison(1.0f + k, 4.0f, kRows, kCols, k));
    }
    h.log->onScore = [&] { h.gate.enter(); };
    const QString original = h.image("original.ppm");
    const QStringList degraded = {h.image("a.ppm"), h.image("b.ppm"), h.image("c.ppm")};
    QSignalSpy finished(h.window.get(), &QLumetraMainWindow::batchFinished);
    h.runFromMenu(original, degraded);
    h.gate.letThrough();                // the first file is scored
    QTRY_COMPARE(h.gate.arrived(), 2);  // the second is in progress
    QTRY_COMPARE(h.table()->rowCount(), 1);

    auto* cancel = h.child<QPushButton>("cancelButton");
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    QVERIFY(cancel->isEnabled());
    cancel->click();
    QVERIFY(!cancel->isEnabled());
    h.gate.open();  // the second file ends; the third is never started
    QVERIFY(finished.wait());

    QCOMPARE(h.log->scored, degraded.first(2));
    QCOMPARE(h.table()->rowCount(), 2);
    QCOMPARE(h.cell(1, 0), degraded[1]);
    QCOMPARE(h.statusBar()->currentMessage(), QStringLiteral("Cancelled after 2 of 3 files"));
    QVERIFY(!h.child<QPushButton>("cancelButton"));
    QVERIFY(h.window->findChildren<QProgressBar*>().isEmpty());
    QVERIFY(h.action("actionNew")->isEnabled());
    QVERIFY(h.action("actionExportResults")->isEnabled());
    // Files, results and rows stay aligned: the file never reached has no row and no map.
    QVERIFY(h.window->openErrorMap(1));
    QCOMPARE(h.window->openErrorMap(2), nullptr);
    h.chooser->resultsAnswer = QDir(h.dir.path()).filePath("results.csv");
    QVERIFY(h.window->exportResults(h.chooser->resultsAnswer));
    QFile csv(h.chooser->resultsAnswer);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(csv.readAll()).count('\n'), 3);  // the header and two files
}

void tst_QLumetraMainWindow::cancelWhileEngineIsBuiltKeepsPreviousResults() {
    Harness h;
    h.log->results = {markedComparison(0.5f, 4.0f, kRows, kCols)};
    const QString original = h.image("original.ppm");
    const QString degraded = h.image("a.ppm");
    QVERIFY(h.runToEnd(original, {degraded}));
    h.log->onBuild = [&] { h.gate.enter(); };
    QSignalSpy finished(h.window.get(), &QLumetraMainWindow::batchFinished);
    h.runFromMenu(h.image("other.ppm"), {h.image("b.ppm"), h.image("c.ppm")});
    QTRY_COMPARE(h.gate.arrived(), 1);
    QCOMPARE(h.statusBar()->currentMessage(), QStringLiteral("Initializing lumetra"));

    auto* cancel = h.child<QPushButton>("cancelButton");
    QVERIFY(cancel);
    cancel->click();
    h.gate.open();
    QVERIFY(finished.wait());

    QCOMPARE(h.log->scored, QStringList({degraded}));  // the first run's file only
    QCOMPARE(h.statusBar()->currentMessage(), QStringLiteral("Cancelled"));
    QCOMPARE(h.window->windowTitle(), original);
    QCOMPARE(h.table()->rowCount(), 1);
    const QLumetraErrorMapDialog* map = h.window->openErrorMap(0);
    QVERIFY(map);
    QCOMPARE(map->windowTitle(), original + " - " + degraded);
    QVERIFY(!h.child<QPushButton>("cancelButton"));
    QVERIFY(h.action("actionNew")->isEnabled());
}

void tst_QLumetraMainWindow::closingDuringBatchStopsAfterFileInProgress() {
    Harness h;
    h.log->onScore = [&] { h.gate.enter(); };
    const QStringList degraded = {h.image("a.ppm"), h.image("b.ppm"), h.image("c.ppm")};
    h.runFromMenu(h.image("original.ppm"), degraded);
    QTRY_COMPARE(h.gate.arrived(), 1);

    QVERIFY(h.window->close());
    h.gate.open();     // the first file ends while the window goes away
    h.window.reset();  // waits for that file

    QCOMPARE(h.log->scored, degraded.first(1));
    // Nothing of the batch outlived the window: the engine (which shares the log) is gone.
    QCOMPARE(h.log.use_count(), 1L);
}

void tst_QLumetraMainWindow::exportWritesTableAsCsv() {
    Harness h;
    h.log->results = {markedComparison(0.1f, 4.0f, kRows, kCols)};
    const QString good = h.image("good.ppm");
    const QString missing = QDir(h.dir.path()).filePath("missing.ppm");
    QVERIFY(h.runToEnd(h.image("original.ppm"), {good, missing}));
    h.chooser->resultsAnswer = QDir(h.dir.path()).filePath("results.csv");
    h.action("actionExportResults")->trigger();

    QFile file(h.chooser->resultsAnswer);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("file,measure,score,error"));
    QCOMPARE(lines[1], good + ",0.100000001,4,");
    QVERIFY2(lines[2].startsWith(missing + ",,,") && lines[2].contains("cannot read"),
             qPrintable(lines[2]));
}

void tst_QLumetraMainWindow::exportToUnwritablePathWarns() {
    Harness h;
    const QString path = "/nonexistent-directory/results.csv";
    QVERIFY(!h.window->exportResults(path));
    QCOMPARE(h.notifier->warnings.size(), 1);
    QVERIFY(h.notifier->warnings[0].contains(path));
}

QTEST_MAIN(tst_QLumetraMainWindow)
#include "tst_QLumetraMainWindow.moc"

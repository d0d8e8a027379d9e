#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <limits>
#include <memory>

#include "AppTestSupport.h"
#include "app/ComparisonCanvas.h"
#include "app/QLumetraComparisonViewer.h"
#include "app/QLumetraErrorMapDialog.h"
#include "app/QLumetraMainWindow.h"
#include "app/ViewerMaps.h"
#include "image/HeatMap.h"

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
    QLineEdit* field(const QString& name) const { return child<QLineEdit>(qPrintable(name)); }
};

QString nameOf(const QString& path) {
    return QFileInfo(path).fileName();
}

QList<QLumetraErrorMapDialog*> openErrorMaps() {
    QList<QLumetraErrorMapDialog*> maps;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* map = qobject_cast<QLumetraErrorMapDialog*>(w)) maps << map;
    }
    return maps;
}

// A profile file in `dir` whose "beta" and "mapping" are those given.
QString writeProfile(const QString& dir, const QString& name, const QString& beta,
                     const QString& mapping) {
    const QString path = dir + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return QString();
    file.write(QStringLiteral(R"({"format": "lumetra-profile", "format_version": 1,
        "parameters": {"beta": %1, "intra_c1": false}, "viewing": {"ppd": 45}, "mapping": %2})")
                   .arg(beta, mapping)
                   .toUtf8());
    return path;
}

const QString kCurve =
    QStringLiteral(R"({"kind": "logistic", "b1": 1, "b2": 5, "b3": 300, "b4": 100})");
const QString kLine = QStringLiteral(R"({"kind": "linear", "a": 0.002, "b": 4.5})");

}  // namespace

class tst_QLumetraMainWindow : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void freshWindowShowsDefaults();
    void fieldProblemsAreMarkedAsTyped_data();
    void fieldProblemsAreMarkedAsTyped();
    void defaultRunPassesParametersToEngine();
    void viewingConditionsReachTheEngine();
    void unusableFieldStartsNoBatch_data();
    void unusableFieldStartsNoBatch();
    void twoUnusableFieldsAreNamedTogether();
    void threeFilesGiveThreeRowsInOrder();
    void doubleClickOrEnterOpensThatRowsViewer();
    void mapWindowsFitTheScreenAndCascade();
    void errorMapWindowIsDeletedWhenClosed();
    void sortingOrdersNumbersAsNumbers();
    void nonFiniteMeasureIsAWarningNotAScore();
    void cancellingOriginalDialogStartsNothing();
    void failingStartWarnsAndKeepsResults_data();
    void failingStartWarnsAndKeepsResults();
    void cancellingDegradedDialogKeepsWindow();
    void droppedFilesStartAComparison_data();
    void droppedFilesStartAComparison();
    void helpAndAboutNameParametersAndDirections();
    void shortcutsTriggerTheirActions();
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
    void profileFillsTheFormAndReachesTheEngine();
    void unusableOrCancelledProfileLeavesTheForm_data();
    void unusableOrCancelledProfileLeavesTheForm();
    void profileIsNamedOnceInTheStatusBar();
    void commandLineOriginalIsNotCalledDropped();
    void failedFilesReasonIsShownWholeOnSelection();
    void filesNoticesShowOnTheirRowsAndTheOriginalsInTheStatusBar();
    void mendedFieldKeepsItsFontAndSize();
    void namesStayReadableWhileFilesScore();
    void otherParametersMarkResultsOutOfDateAndRescoreMendsThem();
    void replacingTheOriginalAsksBeforeDiscarding();
    void addFilesAndReloadKeepTheOriginal();
    void oneViewerStepsThroughTheFilesKeepingItsView();
    void exportMapsWritesEveryScoredFilesMaps();
    void exportedHeatMapsFollowTheViewersScale();
    void settingsComeBackAfterRestart();

  private:
    TemporarySettings _settings;
};

void tst_QLumetraMainWindow::init() {
    TemporarySettings::clear();
}

void tst_QLumetraMainWindow::cleanup() {
    qDeleteAll(openErrorMaps());
}

void tst_QLumetraMainWindow::freshWindowShowsDefaults() {
    const Harness h;
    const QStringList fields = {"lineEditAlpha", "lineEditBeta", "lineEditCo",
                                "lineEditA",     "lineEditB",    "lineEditPixelsPerDegree"};
    const QStringList defaults = {"1", "4", "5", "0.000751", "3.8", "60"};
    for (int k = 0; k < fields.size(); ++k) {
        const auto* field = h.field(fields[k]);
        QVERIFY2(field, qPrintable(fields[k]));
        QCOMPARE(field->text(), defaults[k]);
        // Every field explains itself and gives its default.
        QVERIFY2(field->toolTip().endsWith("Default: " + defaults[k] + "."),
                 qPrintable(field->toolTip()));
        QVERIFY(!field->property("problem").toBool());
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
    QCOMPARE(table->columnCount(), 4);
    QCOMPARE(table->rowCount(), 0);
    QStringList headers;
    for (int c = 0; c < 4; ++c) headers << table->horizontalHeaderItem(c)->text();
    QCOMPARE(headers, QStringList({"File name", "Measure", "Score", "Note"}));
    QVERIFY(table->verticalHeader()->isHidden());
    // The results are read-only: a double-click opens a map, a keystroke edits nothing.
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(table->isSortingEnabled());
    QVERIFY(h.statusBar()->currentMessage().isEmpty());
    // The program's name until a comparison names its original (the class name used to show).
    QCOMPARE(h.window->windowTitle(), QStringLiteral("Lumetra"));
    QVERIFY(h.action("actionNew")->isEnabled());
    QVERIFY(!h.action("actionExportResults")->isEnabled());  // nothing to export yet
}

void tst_QLumetraMainWindow::fieldProblemsAreMarkedAsTyped_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("problem");
    // The comma used to vanish ("1,5" became 15) and letters were swallowed: the text stays
    // as typed and the field is marked.
    QTest::newRow("decimal comma in beta")
        << "lineEditBeta"
        << "1,5"
        << "beta must be a number, with \".\" as the decimal point (got \"1,5\")";
    QTest::newRow("letters in alpha") << "lineEditAlpha"
                                      << "abc"
                                      << "alpha must be a number (got \"abc\")";
    // An emptied field used to count as 0.
    QTest::newRow("emptied co") << "lineEditCo"
                                << ""
                                << "co must be a number (got \"\")";
    QTest::newRow("zero a") << "lineEditA"
                            << "0"
                            << "a must be other than 0 (got 0)";
    QTest::newRow("negative pixels per degree")
        << "lineEditPixelsPerDegree"
        << "-30"
        << "pixels per degree must be greater than 0 (got -30)";
}

void tst_QLumetraMainWindow::fieldProblemsAreMarkedAsTyped() {
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, problem);
    const Harness h;
    QLineEdit* edit = h.field(field);
    const QString toolTip = edit->toolTip();
    edit->clear();
    QTest::keyClicks(edit, typed);

    QCOMPARE(edit->text(), typed);
    QVERIFY(edit->property("problem").toBool());
    QVERIFY2(edit->toolTip().endsWith(problem), qPrintable(edit->toolTip()));
    QCOMPARE(h.statusBar()->currentMessage(), problem);
    QVERIFY(!h.action("actionNew")->isEnabled());

    // Mended, the mark, the message and the block go.
    edit->setText(QStringLiteral("2"));
    QVERIFY(!edit->property("problem").toBool());
    QCOMPARE(edit->toolTip(), toolTip);
    QVERIFY(h.statusBar()->currentMessage().isEmpty());
    QVERIFY(h.action("actionNew")->isEnabled());
}

void tst_QLumetraMainWindow::defaultRunPassesParametersToEngine() {
    Harness h;
    QVERIFY(h.runToEnd(h.image("original.ppm"), {h.image("b.ppm")}));
    QCOMPARE(h.log->builds.size(), std::size_t{1});
    // The default texts are the shortest that read back as the default floats, so the run
    // gets Parameters{} bit for bit.
    QVERIFY(h.log->builds[0] == Parameters{});
}

void tst_QLumetraMainWindow::viewingConditionsReachTheEngine() {
    Harness h;
    h.field("lineEditPixelsPerDegree")->setText("23.7");
    h.field("lineEditBeta")->setText("2.5");
    QVERIFY(h.runToEnd(h.image("original.ppm"), {h.image("b.ppm")}));
    QCOMPARE(h.log->builds.size(), std::size_t{1});
    QCOMPARE(h.log->builds[0].pixelsPerDegree, 23.7);
    QCOMPARE(h.log->builds[0].beta, 2.5f);
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
    h.field(field)->setText(text);
    QSignalSpy finished(h.window.get(), &QLumetraMainWindow::batchFinished);
    QVERIFY(finished.isValid());
    QVERIFY(!h.action("actionNew")->isEnabled());  // the menu cannot start it

    // Nor can the command line or a drop, which start it through runBatch.
    QVERIFY(!h.window->runBatch(h.image("original.ppm"), {h.image("b.ppm")}));

    QCOMPARE(h.notifier->warnings, QStringList({"Cannot start the comparison.\n\n" + reason}));
    QVERIFY(h.log->builds.empty());
    QCOMPARE(finished.count(), 0);  // no batch, so no end of one
    QCOMPARE(h.window->windowTitle(), QStringLiteral("Lumetra"));
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
    QCOMPARE(h.window->windowTitle(), QStringLiteral("original.ppm - Lumetra"));
    QTableWidget* table = h.table();
    QCOMPARE(table->rowCount(), 3);
    // The file's name, not its long folder; the whole path in the tooltip.
    const QStringList expected[] = {
        {"z.ppm", "1.23457e+06", "4", ""}, {"a.ppm", "0.5", "4", ""}, {"m.ppm", "2", "3.25", ""}};
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(QStringList({h.cell(row, 0), h.cell(row, 1), h.cell(row, 2), h.cell(row, 3)}),
                 expected[row]);
        QCOMPARE(table->item(row, 0)->toolTip(), degraded[row]);
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

    // Enter on the current row shows its file in the same viewer, the row's file whatever
    // the sorting: sorted by measure from the smallest, the first row is the first file.
    // Opening a row twice never makes a second window.
    table->sortItems(1, Qt::AscendingOrder);
    table->setCurrentCell(0, 0);
    QTest::keyClick(table, Qt::Key_Return);
    QTest::keyClick(table, Qt::Key_Return);
    const auto still = h.window->findChildren<QLumetraComparisonViewer*>();
    QCOMPARE(still.size(), 1);
    QCOMPARE(still[0], viewers[0]);
    QCOMPARE(still[0]->windowTitle(), QString("original.ppm vs first.ppm: measure 1, score 4"));
    QTRY_VERIFY(!still[0]->computing());
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
    QCOMPARE(h.window->windowTitle(), nameOf(original) + " - Lumetra");
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
    QCOMPARE(h.cell(0, 0), nameOf(degraded));
    QCOMPARE(h.window->windowTitle(), nameOf(original) + " - Lumetra");
    QVERIFY(h.statusBar()->currentMessage().isEmpty());
    QVERIFY(h.action("actionNew")->isEnabled());
    // The old row still opens the old map.
    const QLumetraErrorMapDialog* map = h.window->openErrorMap(0);
    QVERIFY(map);
    QCOMPARE(map->windowTitle(), original + " - " + degraded);
}

void tst_QLumetraMainWindow::cancellingDegradedDialogKeepsWindow() {
    Harness h;
    h.log->results = {markedComparison(0.5f, 4.0f, kRows, kCols)};
    const QString original = h.image("original.ppm");
    QVERIFY(h.runToEnd(original, {h.image("a.ppm"), h.image("small.ppm", 1, 1)}));
    const QString status = h.statusBar()->currentMessage();
    QVERIFY(!status.isEmpty());  // "1 of 2 files failed"

    h.runFromMenu(h.image("other.ppm"), {});  // the original chosen, the degraded cancelled

    QCOMPARE(h.chooser->degradedAsked, 2);
    QCOMPARE(h.log->builds.size(), std::size_t{1});  // nothing was started
    QCOMPARE(h.window->windowTitle(), nameOf(original) + " - Lumetra");
    QCOMPARE(h.table()->rowCount(), 2);
    QCOMPARE(h.cell(0, 0), QStringLiteral("a.ppm"));
    QCOMPARE(h.statusBar()->currentMessage(), status);
    QVERIFY(h.action("actionExportResults")->isEnabled());
    QVERIFY(h.action("actionNew")->isEnabled());
    QVERIFY(h.window->findChildren<QProgressBar*>().isEmpty());
    QVERIFY(h.window->openErrorMap(0));
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
             QStringList({nameOf(bad), "error", ""}));
    // The reason is in the row, naming the file by its name; the tooltip has the full path.
    const QString note = h.cell(1, 3);
    QVERIFY2(note.contains(nameOf(bad)) && !note.contains(h.dir.path()), qPrintable(note));
    QVERIFY2(note.contains(fileExists ? "differs in size" : "cannot read"), qPrintable(note));
    const QString toolTip = h.table()->item(1, 3)->toolTip();
    QVERIFY2(toolTip.startsWith(bad + "\n") && toolTip.contains(bad + "\""), qPrintable(toolTip));
    QCOMPARE(h.table()->item(1, 0)->toolTip(), toolTip);
    // The rows after it still belong to their own files and results.
    QCOMPARE(QStringList({h.cell(2, 0), h.cell(2, 1)}), QStringList({"c.ppm", "2"}));
    QCOMPARE(h.table()->item(2, 1)->toolTip(), degraded[2]);
    QCOMPARE(h.window->openErrorMap(1), nullptr);
    const QLumetraErrorMapDialog* third = h.window->openErrorMap(2);
    QVERIFY(third);
    QCOMPARE(third->windowTitle(), original + " - " + degraded[2]);
    QCOMPARE(third->findChild<QLabel*>("label")->pixmap().toImage().pixel(1, 0), qRgb(0, 0, 255));
    QCOMPARE(h.statusBar()->currentMessage(), QStringLiteral("1 of 3 files failed"));
    QVERIFY(h.notifier->warnings.isEmpty());
}

void tst_QLumetraMainWindow::filesNoticesShowOnTheirRowsAndTheOriginalsInTheStatusBar() {
    Harness h;
    const QString images = QStringLiteral(LUMETRA_TEST_DATA_DIR "/images/");
    const QString srgb = images + "rgb24x16.ppm";
    const QString p3 = images + "rgb24x16_display_p3.png";
    QVERIFY(h.runToEnd(srgb, {p3, srgb}));

    // The P3 file's row: a warning icon, its notices in the note and in the tooltip, and its
    // measure as it was.
    const QString profile =
        "declares colour profile ICC \"Display P3\", not sRGB; its samples "
        "are scored as stored (Comparison > Convert colours to sRGB "
        "converts it)";
    const QString mismatch = "the measure includes the colour change between them";
    const QTableWidgetItem* note = h.table()->item(0, 3);
    QVERIFY2(note->text().startsWith(profile + "; its colour space is ICC \"Display P3\""),
             qPrintable(note->text()));
    QVERIFY(note->text().endsWith(mismatch));
    QVERIFY(!note->icon().isNull());
    QVERIFY(note->toolTip().startsWith(p3 + "\n" + profile + "\n"));
    QCOMPARE(h.cell(0, 1), QStringLiteral("0"));
    // The sRGB file says nothing.
    QCOMPARE(h.cell(1, 3), QString());
    QVERIFY(h.table()->item(1, 3)->icon().isNull());
    h.table()->setCurrentCell(0, 0);
    QVERIFY(h.child<QLabel>("detailsLabel")->text().contains(mismatch));

    // A P3 original: said in the status bar once every file is scored, and in the details.
    QVERIFY(h.runToEnd(p3, {p3}));
    const QString said = h.statusBar()->currentMessage();
    QVERIFY2(said.startsWith("Original \"rgb24x16_display_p3.png\": " + profile), qPrintable(said));
    QCOMPARE(h.cell(0, 3), profile);  // the original's colour space: its own notice alone
    h.table()->setCurrentCell(0, 0);
    QVERIFY(h.child<QLabel>("detailsLabel")->text().endsWith(said));
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
    QCOMPARE(h.cell(1, 0), nameOf(degraded[1]));
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
    // Three comment lines, the header and two files.
    QCOMPARE(QString::fromUtf8(csv.readAll()).count('\n'), 6);
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
    QCOMPARE(h.window->windowTitle(), nameOf(original) + " - Lumetra");
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
    const QString original = h.image("original.ppm");
    const QString good = h.image("good.ppm");
    const QString missing = QDir(h.dir.path()).filePath("missing.ppm");
    h.field("lineEditPixelsPerDegree")->setText("45");
    h.field("lineEditAlpha")->setText("0.5");
    QVERIFY(h.runToEnd(original, {good, missing}));
    // Fields changed after the run do not change what it was computed with.
    h.field("lineEditAlpha")->setText("2");
    h.chooser->resultsAnswer = QDir(h.dir.path()).filePath("results");  // no suffix
    h.action("actionExportResults")->trigger();

    QFile file(h.chooser->resultsAnswer + ".csv");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines[0], "# original: " + original);
    QCOMPARE(lines[1], QStringLiteral("# parameters: alpha=0.5 beta=4 co=5 a=0.000751 b=3.8 "
                                      "intraA=1 interA=0 intraC1=1 interC1=0 intraC2=1 interC2=0"));
    QCOMPARE(lines[2], QStringLiteral("# viewing: 45 pixels per degree"));
    QCOMPARE(lines[3], QStringLiteral("file,measure,score,error"));
    QCOMPARE(lines[4], good + ",0.100000001,4,");
    QVERIFY2(lines[5].startsWith(missing + ",,,") && lines[5].contains("cannot read"),
             qPrintable(lines[5]));
}

void tst_QLumetraMainWindow::exportToUnwritablePathWarns() {
    Harness h;
    const QString path = "/nonexistent-directory/results.csv";
    QVERIFY(!h.window->exportResults(path));
    QCOMPARE(h.notifier->warnings.size(), 1);
    QVERIFY(h.notifier->warnings[0].contains(path));
}

void tst_QLumetraMainWindow::mapWindowsFitTheScreenAndCascade() {
    Harness h;
    // Larger than any screen the tests run on (the offscreen one is 800 x 600).
    constexpr std::uint32_t kMapRows = 2200;
    constexpr std::uint32_t kMapCols = 3000;
    h.log->results = {markedComparison(1.0f, 4.0f, kMapRows, kMapCols)};
    QVERIFY(h.runToEnd(h.image("original.ppm"), {h.image("b.ppm")}));
    const QRect available = h.window->screen()->availableGeometry();

    QLumetraErrorMapDialog* first = h.window->openErrorMap(0);
    QLumetraErrorMapDialog* second = h.window->openErrorMap(0);
    QVERIFY(first && second);
    for (QLumetraErrorMapDialog* map : {first, second}) {
        QVERIFY(map->isVisible());
        QVERIFY2(available.contains(map->geometry()), qPrintable(QString("%1,%2 %3x%4")
                                                                     .arg(map->x())
                                                                     .arg(map->y())
                                                                     .arg(map->width())
                                                                     .arg(map->height())));
        // The whole map can be scrolled to.
        const auto* area = map->findChild<QScrollArea*>("scrollArea");
        QVERIFY(area);
        QTRY_VERIFY(area->horizontalScrollBar()->maximum() > 0);
        QVERIFY(area->verticalScrollBar()->maximum() > 0);
    }
    // Each opens a step right of and below the last.
    QVERIFY(second->pos().x() > first->pos().x());
    QVERIFY(second->pos().y() > first->pos().y());
}

void tst_QLumetraMainWindow::sortingOrdersNumbersAsNumbers() {
    Harness h;
    // Measures 10, 9 and 100 sort as numbers (as text "9" would follow "100"); the failed
    // file sorts as the worst.
    h.log->results = {markedComparison(10.0f, 3.0f, kRows, kCols, 0),
                      markedComparison(9.0f, 3.5f, kRows, kCols, 1),
                      markedComparison(100.0f, 2.0f, kRows, kCols, 2)};
    const QString original = h.image("original.ppm");
    const QStringList degraded = {h.image("ten.ppm"), h.image("nine.ppm"),
                                  QDir(h.dir.path()).filePath("gone.ppm"), h.image("hundred.ppm")};
    QVERIFY(h.runToEnd(original, degraded));
    QHeaderView* header = h.table()->horizontalHeader();
    const auto column = [&h](int c) {
        QStringList cells;
        for (int row = 0; row < h.table()->rowCount(); ++row) cells << h.cell(row, c);
        return cells;
    };

    header->setSortIndicator(1, Qt::AscendingOrder);  // what a click on "Measure" does
    QCOMPARE(column(1), QStringList({"9", "10", "100", "error"}));
    header->setSortIndicator(2, Qt::DescendingOrder);  // best score first
    QCOMPARE(column(2), QStringList({"3.5", "3", "2", ""}));
    header->setSortIndicator(0, Qt::AscendingOrder);
    QCOMPARE(column(0), QStringList({"gone.ppm", "hundred.ppm", "nine.ppm", "ten.ppm"}));

    // A row still opens its own file's map, wherever the sort put it.
    const QLumetraErrorMapDialog* map = h.window->openErrorMap(2);
    QVERIFY(map);
    QCOMPARE(map->windowTitle(), original + " - " + degraded[1]);
    QCOMPARE(h.window->openErrorMap(0), nullptr);  // the failed file

    // The next run's rows arrive in the order chosen.
    header->setSortIndicator(1, Qt::DescendingOrder);
    QVERIFY(h.runToEnd(original, {h.image("a.ppm"), h.image("b.ppm"), h.image("c.ppm")}));
    QCOMPARE(column(1), QStringList({"100", "10", "9"}));
}

void tst_QLumetraMainWindow::nonFiniteMeasureIsAWarningNotAScore() {
    Harness h;
    constexpr float kInf = std::numeric_limits<float>::infinity();
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    // What scoring gives such measures: the clamped score 1, the sentinel -1.
    h.log->results = {markedComparison(kInf, 1.0f, kRows, kCols),
                      markedComparison(kNaN, -1.0f, kRows, kCols)};
    QVERIFY(h.runToEnd(h.image("original.ppm"), {h.image("a.ppm"), h.image("b.ppm")}));
    const QStringList measures = {"inf", "nan"};
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(h.cell(row, 1), measures[row]);
        QCOMPARE(h.cell(row, 2), QString());  // no score shown
        QVERIFY2(h.cell(row, 3).startsWith("Warning: the measure is not a finite number"),
                 qPrintable(h.cell(row, 3)));
        QVERIFY(!h.table()->item(row, 3)->icon().isNull());
    }
    QVERIFY(h.window->openErrorMap(0));  // its map can still be looked at
}

void tst_QLumetraMainWindow::droppedFilesStartAComparison_data() {
    QTest::addColumn<int>("firstDrop");  // files in the first drop; the rest come in a second
    QTest::newRow("all at once") << 3;
    QTest::newRow("original alone, then the degraded files") << 1;
}

void tst_QLumetraMainWindow::droppedFilesStartAComparison() {
    QFETCH(int, firstDrop);
    Harness h;
    const QStringList files = {h.image("original.ppm"), h.image("a.ppm"), h.image("b.ppm")};
    const auto drop = [&h](const QStringList& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(h.window.get(), &enter);
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(h.window.get(), &dropped);
        return enter.isAccepted() && dropped.isAccepted();
    };
    QSignalSpy finished(h.window.get(), &QLumetraMainWindow::batchFinished);
    QVERIFY(finished.isValid());

    QVERIFY(drop(files.first(firstDrop)));
    if (firstDrop == 1) {
        QVERIFY(h.log->builds.empty());
        const QString status = h.statusBar()->currentMessage();
        QVERIFY2(status.contains("original.ppm") && status.contains("first file dropped"),
                 qPrintable(status));
        QVERIFY(drop(files.sliced(1)));
    }
    QVERIFY(finished.wait());

    QCOMPARE(h.window->windowTitle(), QStringLiteral("original.ppm - Lumetra"));
    QCOMPARE(h.log->scored, files.sliced(1));
    QCOMPARE(h.table()->rowCount(), 2);
    // The next drop joins the comparison: both files are degraded files of the same original,
    // appended after the rows there are (a drop used to make its first file the original and
    // throw the results away).
    const QString c = h.image("c.ppm");
    const QString d = h.image("d.ppm");
    QVERIFY(drop({c, d}));
    QVERIFY(finished.wait());
    QCOMPARE(h.window->windowTitle(), QStringLiteral("original.ppm - Lumetra"));
    QCOMPARE(h.log->scored, QStringList({files[1], files[2], c, d}));
    QCOMPARE(h.table()->rowCount(), 4);
    QCOMPARE(h.cell(2, 0), QStringLiteral("c.ppm"));
    QCOMPARE(h.cell(3, 0), QStringLiteral("d.ppm"));
    QCOMPARE(h.window->fileIndexOfRow(3), 3);
    QVERIFY(h.notifier->questions.isEmpty());  // nothing was discarded, nothing asked
}

void tst_QLumetraMainWindow::helpAndAboutNameParametersAndDirections() {
    Harness h;
    h.action("actionHelp")->trigger();
    h.action("actionAbout")->trigger();
    QCOMPARE(h.notifier->informations.size(), 2);
    for (const QString& text : h.notifier->informations) {
        for (const char* word : {"alpha", "beta", "co", " a", " b", "pixels per degree"}) {
            QVERIFY2(text.contains(QLatin1String(word), Qt::CaseInsensitive), word);
        }
        QVERIFY2(text.contains("lower is better", Qt::CaseInsensitive), qPrintable(text));
        QVERIFY2(text.contains("higher is better", Qt::CaseInsensitive), qPrintable(text));
    }
    // The help says what an image compared with itself scores, and how to reach 5.
    const QString help = h.notifier->informations[0];
    QVERIFY(help.contains("compared with itself has measure 0 and scores b"));
    QVERIFY(help.contains("(3.8 with the default line), not 5"));
    QVERIFY(help.contains("calibration profile"));
    // Every key of the viewer, and the main window's new ones.
    for (const char* key :
         {"Page Down or J", "Page Up or K", "Ctrl+0", "Ctrl+1", "Arrow keys", "Alt+1", "Space",
          "Ctrl+S", "F11", "Esc", "? or F1", "Ctrl+R", "F5", "Ctrl+O", "Ctrl+Shift+E"}) {
        QVERIFY2(help.contains(QLatin1String(key)), key);
    }
    QVERIFY(h.notifier->warnings.isEmpty());
}

void tst_QLumetraMainWindow::shortcutsTriggerTheirActions() {
    Harness h;
    h.log->results = {markedComparison(0.5f, 4.0f, kRows, kCols)};
    QVERIFY(h.runToEnd(h.image("original.ppm"), {h.image("a.ppm")}));
    h.window->show();
    h.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
    h.chooser->originalAnswer.clear();  // the dialogs are cancelled

    QTest::keyClick(h.window.get(), Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(h.chooser->originalAsked, 2);
    QTest::keyClick(h.window.get(), Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(h.chooser->resultsAsked, 1);
    QTest::keyClick(h.window.get(), Qt::Key_F1);
    QCOMPARE(h.notifier->informations.size(), 1);
    QTest::keyClick(h.window.get(), Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(!h.window->isVisible());
}

void tst_QLumetraMainWindow::profileFillsTheFormAndReachesTheEngine() {
    Harness h;
    h.chooser->profileAnswer = writeProfile(h.dir.path(), "curve.json", "3", kCurve);
    h.action("actionLoadProfile")->trigger();
    QCOMPARE(h.chooser->profileAsked, 1);
    QVERIFY2(h.notifier->warnings.isEmpty(), qPrintable(h.notifier->warnings.join('\n')));
    QCOMPARE(h.field("lineEditBeta")->text(), QStringLiteral("3"));
    QCOMPARE(h.field("lineEditPixelsPerDegree")->text(), QStringLiteral("45"));
    QVERIFY(!h.child<QCheckBox>("checkBoxIntraC1")->isChecked());
    // The curve has no fields: a and b stand aside, and the status bar names the profile.
    for (const char* name : {"lineEditA", "lineEditB"}) {
        QVERIFY2(!h.field(name)->isEnabled(), name);
        QVERIFY2(h.field(name)->text().isEmpty(), name);
    }
    const auto* label = h.child<QLabel>("profileLabel");
    QVERIFY(label);
    QCOMPARE(label->text(),
             QStringLiteral("Profile curve.json: logistic, b1 = 1, b2 = 5, b3 = 300, b4 = 100"));
    QVERIFY(h.action("actionNew")->isEnabled());

    QVERIFY(h.runToEnd(h.image("original.ppm"), {h.image("b.ppm")}));
    QCOMPARE(h.log->builds.size(), std::size_t{1});
    Parameters expected;
    expected.beta = 3.0f;
    expected.intraC1 = false;
    expected.pixelsPerDegree = 45.0;
    expected.mapping = LogisticMapping{1.0, 5.0, 300.0, 100.0};
    QVERIFY(h.log->builds[0] == expected);

    // A linear profile gives the a and b fields back, with its line.
    QVERIFY(h.window->loadProfileFile(writeProfile(h.dir.path(), "line.json", "3", kLine)));
    QVERIFY(h.field("lineEditA")->isEnabled());
    QCOMPARE(h.field("lineEditA")->text(), QStringLiteral("0.002"));
    QCOMPARE(h.field("lineEditB")->text(), QStringLiteral("4.5"));
    QCOMPARE(label->text(), QStringLiteral("Profile line.json: linear, a = 0.002, b = 4.5"));
}

void tst_QLumetraMainWindow::unusableOrCancelledProfileLeavesTheForm_data() {
    QTest::addColumn<QString>("name");  // empty: the dialog is cancelled
    QTest::addColumn<QString>("beta");
    QTest::addColumn<QString>("warning");  // after "Cannot load the profile.\n\n<path>: "
    QTest::newRow("cancelled") << QString() << QString() << QString();
    QTest::newRow("zero beta") << "zero.json"
                               << "0"
                               << "parameters.beta: beta must be greater than 0 (got 0)";
    QTest::newRow("text beta") << "text.json"
                               << "\"4\""
                               << "parameters.beta: must be a number (got \"4\")";
}

void tst_QLumetraMainWindow::unusableOrCancelledProfileLeavesTheForm() {
    QFETCH(QString, name);
    QFETCH(QString, beta);
    QFETCH(QString, warning);
    Harness h;
    h.field("lineEditBeta")->setText("2.5");
    const QString path =
        name.isEmpty() ? QString() : writeProfile(h.dir.path(), name, beta, kCurve);
    h.chooser->profileAnswer = path;
    h.action("actionLoadProfile")->trigger();
    QCOMPARE(h.chooser->profileAsked, 1);
    if (warning.isEmpty()) {
        QVERIFY(h.notifier->warnings.isEmpty());
    } else {
        QCOMPARE(h.notifier->warnings,
                 QStringList{"Cannot load the profile.\n\n" + path + ": " + warning});
    }
    QCOMPARE(h.field("lineEditBeta")->text(), QStringLiteral("2.5"));
    QCOMPARE(h.field("lineEditA")->text(), QStringLiteral("0.000751"));
    QVERIFY(h.field("lineEditA")->isEnabled());
    QVERIFY(h.child<QCheckBox>("checkBoxIntraC1")->isChecked());
    QVERIFY(!h.child<QLabel>("profileLabel"));
}

// The profile's name and mapping are in the lasting note; the passing message used to repeat
// them, its first copy clipped.
void tst_QLumetraMainWindow::profileIsNamedOnceInTheStatusBar() {
    Harness h;
    for (const auto& [name, mapping] : {std::pair{QStringLiteral("line.json"), kLine},
                                        std::pair{QStringLiteral("curve.json"), kCurve}}) {
        QVERIFY(h.window->loadProfileFile(writeProfile(h.dir.path(), name, "3", mapping)));
        QString shown = h.statusBar()->currentMessage();
        for (const QLabel* label : h.statusBar()->findChildren<QLabel*>()) {
            if (label->isVisibleTo(h.window.get())) shown += QLatin1Char('\n') + label->text();
        }
        QCOMPARE(shown.count(name), 1);
    }
}

void tst_QLumetraMainWindow::commandLineOriginalIsNotCalledDropped() {
    Harness h;
    const QString original = h.image("original.ppm");
    h.window->openFiles({original}, QLumetraMainWindow::FileSource::CommandLine);
    QString status = h.statusBar()->currentMessage();
    QVERIFY2(status.contains("original.ppm") && !status.contains("dropped"), qPrintable(status));

    Harness started;
    QSignalSpy finished(started.window.get(), &QLumetraMainWindow::batchFinished);
    started.window->openFiles({started.image("original.ppm"), started.image("b.ppm")},
                              QLumetraMainWindow::FileSource::CommandLine);
    QVERIFY(finished.wait());
    status = started.statusBar()->currentMessage();
    QVERIFY2(!status.contains("dropped"), qPrintable(status));
}

// The note column cuts a long reason; the details under the table, the status bar and the
// tooltip give it whole.
void tst_QLumetraMainWindow::failedFilesReasonIsShownWholeOnSelection() {
    Harness h;
    const QString missing = QDir(h.dir.path())
                                .filePath(
                                    "notes_from_the_second_session_of_the_study_with_a_"
                                    "rather_long_name.png");
    QVERIFY(h.runToEnd(h.image("original.ppm"), {h.image("a.ppm"), missing}));
    QCOMPARE(h.cell(1, 1), QStringLiteral("error"));
    const QString note = h.cell(1, 3);  // the reason, naming the file without its folder
    QVERIFY2(note.startsWith("cannot read") && note.contains(nameOf(missing)), qPrintable(note));

    h.statusBar()->clearMessage();
    h.table()->setCurrentCell(1, 0);
    const QString details = h.child<QLabel>("detailsLabel")->text();
    QVERIFY2(details.contains(missing) && details.contains(note.section(nameOf(missing), -1)),
             qPrintable(details));
    const QString status = h.statusBar()->currentMessage();
    QVERIFY2(status.contains(missing), qPrintable(status));
    QVERIFY(h.table()->item(1, 3)->toolTip().contains(missing));
    QVERIFY(h.table()->item(1, 3)->toolTip().contains(note.section(nameOf(missing), -1)));
    // A scored row shows its path, and no failure.
    h.table()->setCurrentCell(0, 0);
    QCOMPARE(h.child<QLabel>("detailsLabel")->text(), h.dir.filePath("a.ppm"));
}

// Flagged red and mended, a field is drawn as it was: same font, same size.  A style sheet
// set on the field and cleared again used to leave it a smaller font.
void tst_QLumetraMainWindow::mendedFieldKeepsItsFontAndSize() {
    Harness h;
    h.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    QLineEdit* edit = h.field("lineEditBeta");
    const QFont font = edit->font();
    const QSize hint = edit->sizeHint();
    const QRect place = edit->geometry();
    edit->setText(QStringLiteral("x"));
    QVERIFY(edit->property("problem").toBool());
    edit->setText(QStringLiteral("4"));
    QApplication::processEvents();
    QCOMPARE(edit->font(), font);
    QCOMPARE(edit->font().pointSizeF(), h.window->font().pointSizeF());
    QCOMPARE(edit->sizeHint(), hint);
    QTRY_COMPARE(edit->geometry(), place);
}

// While the run goes on, the name column is as wide as the longest name so far.
void tst_QLumetraMainWindow::namesStayReadableWhileFilesScore() {
    Harness h;
    h.log->onScore = [&h] { h.gate.enter(); };
    const QString name = QStringLiteral("a_degraded_file_with_a_descriptive_name_q90.ppm");
    h.runFromMenu(h.image("original.ppm"), {h.image(name), h.image("b.ppm")});
    QTRY_COMPARE(h.gate.arrived(), 1);
    h.gate.letThrough();
    QTRY_COMPARE(h.table()->rowCount(), 1);  // the second file is held: the run goes on
    const int needed = h.table()->fontMetrics().horizontalAdvance(name);
    QVERIFY2(h.table()->columnWidth(0) >= needed,
             qPrintable(QString("%1 < %2").arg(h.table()->columnWidth(0)).arg(needed)));
    h.gate.open();
}

void tst_QLumetraMainWindow::otherParametersMarkResultsOutOfDateAndRescoreMendsThem() {
    Harness h;
    const QStringList files = {h.image("a.ppm"), h.image("b.ppm")};
    QVERIFY(h.runToEnd(h.image("original.ppm"), files));
    const auto staleRows = [&h] {
        int stale = 0;
        for (int row = 0; row < h.table()->rowCount(); ++row) {
            if (h.cell(row, 3).contains("out of date")) ++stale;
        }
        return stale;
    };
    QCOMPARE(staleRows(), 0);
    QVERIFY(!h.child<QLabel>("staleLabel"));

    h.table()->setCurrentCell(1, 0);
    h.field("lineEditAlpha")->setText(QStringLiteral("2"));
    QCOMPARE(staleRows(), 2);
    QVERIFY(h.child<QLabel>("staleLabel"));
    QVERIFY(h.child<QLabel>("detailsLabel")->text().contains("out of date"));
    // Back at the parameters the rows were scored with, they are current again.
    h.field("lineEditAlpha")->setText(QStringLiteral("1"));
    QCOMPARE(staleRows(), 0);
    QVERIFY(!h.child<QLabel>("staleLabel"));
    // A switch counts as a parameter, and so does a profile's mapping.
    h.child<QCheckBox>("checkBoxIntraC2")->setChecked(false);
    QCOMPARE(staleRows(), 2);
    h.child<QCheckBox>("checkBoxIntraC2")->setChecked(true);
    QVERIFY(h.window->loadProfileFile(writeProfile(h.dir.path(), "line.json", "3", kLine)));
    QCOMPARE(staleRows(), 2);

    // Ctrl+R scores every file again with the form's parameters, same original.
    QSignalSpy finished(h.window.get(), &QLumetraMainWindow::batchFinished);
    QCOMPARE(h.action("actionRescore")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    h.action("actionRescore")->trigger();
    QVERIFY(finished.wait());
    QCOMPARE(h.log->builds.size(), std::size_t{2});
    QCOMPARE(h.log->builds[1].beta, 3.0f);
    QCOMPARE(h.log->scored, files + files);
    QCOMPARE(staleRows(), 0);
    QVERIFY(!h.child<QLabel>("staleLabel"));
    QCOMPARE(h.window->windowTitle(), QStringLiteral("original.ppm - Lumetra"));
}

void tst_QLumetraMainWindow::replacingTheOriginalAsksBeforeDiscarding() {
    Harness h;
    const QStringList files = {h.image("a.ppm"), h.image("b.ppm")};
    QVERIFY(h.runToEnd(h.image("original.ppm"), files));
    h.chooser->originalAnswer = h.image("other.ppm");

    h.notifier->confirmAnswer = false;  // the user keeps the results
    h.action("actionReplaceOriginal")->trigger();
    QCOMPARE(h.notifier->questions.size(), 1);
    QVERIFY2(h.notifier->questions[0].contains("The 2 results against \"original.ppm\"") &&
                 h.notifier->questions[0].contains("other.ppm"),
             qPrintable(h.notifier->questions[0]));
    QCOMPARE(h.log->builds.size(), std::size_t{1});
    QCOMPARE(h.window->windowTitle(), QStringLiteral("original.ppm - Lumetra"));

    h.notifier->confirmAnswer = true;
    QSignalSpy finished(h.window.get(), &QLumetraMainWindow::batchFinished);
    h.action("actionReplaceOriginal")->trigger();
    QVERIFY(finished.wait());
    QCOMPARE(h.window->windowTitle(), QStringLiteral("other.ppm - Lumetra"));
    QCOMPARE(h.log->scored, files + files);  // the same files, against the new original
    QCOMPARE(h.table()->rowCount(), 2);

    // "&New" asks too, once there are results to lose.
    h.notifier->confirmAnswer = false;
    h.runFromMenu(h.image("third.ppm"), {h.image("c.ppm")});
    QCOMPARE(h.notifier->questions.size(), 3);
    QCOMPARE(h.log->builds.size(), std::size_t{2});
}

void tst_QLumetraMainWindow::addFilesAndReloadKeepTheOriginal() {
    Harness h;
    const QString original = h.image("original.ppm");
    QVERIFY(h.runToEnd(original, {h.image("a.ppm")}));
    QSignalSpy finished(h.window.get(), &QLumetraMainWindow::batchFinished);
    h.chooser->degradedAnswer = {h.image("b.ppm"), h.image("c.ppm")};
    h.action("actionAddFiles")->trigger();
    QVERIFY(finished.wait());
    QCOMPARE(h.table()->rowCount(), 3);
    QCOMPARE(h.chooser->originalAsked, 1);  // the first run's only: adding keeps the original
    QCOMPARE(h.cell(2, 0), QStringLiteral("c.ppm"));

    // F5 reads every file again: a file changed on disk gets its new result.
    h.log->results = {markedComparison(7.0f, 2.0f, kRows, kCols)};
    QCOMPARE(h.action("actionReload")->shortcut(), QKeySequence(Qt::Key_F5));
    h.action("actionReload")->trigger();
    QVERIFY(finished.wait());
    QCOMPARE(h.table()->rowCount(), 3);
    QCOMPARE(h.cell(0, 1), QStringLiteral("7"));
    QCOMPARE(h.log->scored.size(), 6);
    QCOMPARE(h.window->windowTitle(), QStringLiteral("original.ppm - Lumetra"));
}

// One viewer for the run: next and previous walk the table's rows, passing over failed ones,
// and the mode and zoom stay.
void tst_QLumetraMainWindow::oneViewerStepsThroughTheFilesKeepingItsView() {
    Harness h;
    QVERIFY(h.runToEnd(
        h.image("original.ppm"),
        {h.image("first.ppm"), QDir(h.dir.path()).filePath("gone.ppm"), h.image("third.ppm")}));
    QLumetraComparisonViewer* viewer = h.window->openViewer(0);
    QVERIFY(viewer);
    QCOMPARE(h.window->openViewer(1), nullptr);  // a failed row has nothing to show
    QCOMPARE(h.window->openViewer(0), viewer);   // the same window, never a second
    QTRY_VERIFY(!viewer->computing());
    viewer->setMode(ViewMode::Overlay);
    auto* canvas = viewer->findChild<ComparisonCanvas*>("canvas");
    canvas->zoomIn();
    canvas->zoomIn();
    const double zoom = canvas->transform().zoom();
    const QPointF offset = canvas->transform().offset();

    viewer->findChild<QAction*>("actionNextFile")->trigger();
    QCOMPARE(viewer->degradedFile(), h.dir.filePath("third.ppm"));
    QCOMPARE(h.table()->currentRow(), 2);
    QTRY_VERIFY(!viewer->computing());
    QCOMPARE(viewer->state().mode(), ViewMode::Overlay);
    // Pictures of the same size keep the zoom and pan (they used to be fitted anew).
    QCOMPARE(canvas->transform().zoom(), zoom);
    QCOMPARE(canvas->transform().offset(), offset);
    viewer->findChild<QAction*>("actionNextFile")->trigger();  // the last row: it stays
    QCOMPARE(viewer->degradedFile(), h.dir.filePath("third.ppm"));
    viewer->findChild<QAction*>("actionPreviousFile")->trigger();
    QCOMPARE(viewer->degradedFile(), h.dir.filePath("first.ppm"));
    // Selecting a row shows its file.
    h.table()->setCurrentCell(2, 0);
    QCOMPARE(viewer->degradedFile(), h.dir.filePath("third.ppm"));
    QCOMPARE(h.window->findChildren<QLumetraComparisonViewer*>().size(), 1);
    QTRY_VERIFY(!viewer->computing());
}

// Every scored file's error map, heat map and ten explanation maps, named as the command line
// names them; a failed file has none.
void tst_QLumetraMainWindow::exportMapsWritesEveryScoredFilesMaps() {
    Harness h;
    const QString golden = QStringLiteral(LUMETRA_TEST_DATA_DIR "/golden/");
    h.log->results = {markedComparison(1.0f, 4.0f, 64, 64, 1)};
    QVERIFY(h.runToEnd(golden + "scene64.ppm",
                       {golden + "scene64__blur.ppm", QDir(h.dir.path()).filePath("gone.ppm")}));
    QTemporaryDir out;
    h.chooser->folderAnswer = out.path();
    QSignalSpy exported(h.window.get(), &QLumetraMainWindow::mapsExported);
    h.action("actionExportMaps")->trigger();
    QVERIFY(exported.wait(60000));  // ends as soon as the maps are written
    QVERIFY2(h.notifier->warnings.isEmpty(), qPrintable(h.notifier->warnings.join('\n')));
    QStringList expected = {"scene64__blur.errmap.png", "scene64__blur.heatmap.png"};
    for (const char* map : {"term-base", "term-crown2", "term-crown3", "term-crown4", "channel-A",
                            "channel-C1", "channel-C2", "block-weight", "edge-zone", "share"}) {
        expected << QStringLiteral("scene64__blur.%1.pfm").arg(QLatin1String(map));
    }
    QStringList written = QDir(out.path()).entryList(QDir::Files);
    written.sort();
    expected.sort();
    QCOMPARE(written, expected);
    // The error map is one pixel per image pixel, the marked one blue.
    const QImage map(QDir(out.path()).filePath("scene64__blur.errmap.png"));
    QCOMPARE(map.size(), QSize(64, 64));
    QCOMPARE(map.pixel(1, 0), qRgb(0, 0, 255));
    QVERIFY(!h.window->exportMaps(QDir(out.path()).filePath("missing/folder")));
    QCOMPARE(h.notifier->warnings.size(), 1);
}

// The heat maps Export all maps writes are drawn on the scale last chosen in the viewer.  The
// map holds 0.25 and 1 on a ground of 0, so the run's scale tops at 1 (its p99 is 0): shared
// draws 0.25 at a quarter of the colours, log at log(1 + 25) / log(1 + 100) = 0.706 of them.
void tst_QLumetraMainWindow::exportedHeatMapsFollowTheViewersScale() {
    Harness h;
    const QString golden = QStringLiteral(LUMETRA_TEST_DATA_DIR "/golden/");
    Array<float> map(64, 64);
    map(0, 0) = 0.25f;
    map(0, 1) = 1.0f;
    h.log->results = {Comparison(1.0f, 4.0f, map)};
    QVERIFY(h.runToEnd(golden + "scene64.ppm", {golden + "scene64__blur.ppm"}));
    const auto exportedAt00 = [&h](HeatScaleMode mode) {
        rememberHeatScale(mode);
        QTemporaryDir out;
        QSignalSpy exported(h.window.get(), &QLumetraMainWindow::mapsExported);
        if (!h.window->exportMaps(out.path()) || !exported.wait(60000)) return QRgb{};
        return QImage(QDir(out.path()).filePath("scene64__blur.heatmap.png")).pixel(0, 0);
    };
    const auto colourAt = [](float fraction) {
        const Rgb8 c = colourOfFraction(ColourMap::Viridis, fraction);
        return qRgb(c[0], c[1], c[2]);
    };
    QCOMPARE(exportedAt00(HeatScaleMode::Shared), colourAt(0.25f));
    const HeatScale log = heatScaleFor(HeatScaleMode::Log, 1.0f, 0.0f, 1.0f, ColourMap::Viridis);
    QCOMPARE(exportedAt00(HeatScaleMode::Log), colourAt(heatFraction(0.25f, log)));
    QVERIFY(colourAt(0.25f) != colourAt(heatFraction(0.25f, log)));
    QVERIFY2(h.notifier->warnings.isEmpty(), qPrintable(h.notifier->warnings.join('\n')));
}

// Closed and opened again, the window finds its size, the form's parameters (a profile's
// mapping with them) and the viewer's mode, map and opacity.
void tst_QLumetraMainWindow::settingsComeBackAfterRestart() {
    const QSize size(700, 520);
    {
        Harness h;
        h.window->resize(size);
        h.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
        QVERIFY(h.window->loadProfileFile(writeProfile(h.dir.path(), "line.json", "3", kLine)));
        h.field("lineEditAlpha")->setText(QStringLiteral("2"));
        QVERIFY(h.runToEnd(h.image("original.ppm"), {h.image("a.ppm")}));
        QLumetraComparisonViewer* viewer = h.window->openViewer(0);
        QVERIFY(viewer);
        viewer->setMode(ViewMode::Overlay);
        viewer->setMap(MapChoice::Share);
        viewer->findChild<QSlider*>("opacitySlider")->setValue(35);
        QTRY_VERIFY(!viewer->computing());
        h.window->close();
    }
    Harness h;
    QCOMPARE(h.window->size(), size);
    QCOMPARE(h.field("lineEditAlpha")->text(), QStringLiteral("2"));
    QCOMPARE(h.field("lineEditBeta")->text(), QStringLiteral("3"));
    QCOMPARE(h.field("lineEditA")->text(), QStringLiteral("0.002"));
    QCOMPARE(h.field("lineEditB")->text(), QStringLiteral("4.5"));
    QVERIFY(!h.child<QCheckBox>("checkBoxIntraC1")->isChecked());
    QVERIFY(h.runToEnd(h.image("original.ppm"), {h.image("a.ppm")}));
    Parameters expected;
    expected.alpha = 2.0f;
    expected.beta = 3.0f;
    expected.intraC1 = false;
    expected.pixelsPerDegree = 45.0;
    expected.mapping = LinearMapping{0.002f, 4.5f};
    QVERIFY(h.log->builds.at(0) == expected);
    QLumetraComparisonViewer* viewer = h.window->openViewer(0);
    QVERIFY(viewer);
    QCOMPARE(viewer->state().mode(), ViewMode::Overlay);
    QCOMPARE(viewer->state().map(), MapChoice::Share);
    QCOMPARE(viewer->state().overlayOpacity(), 0.35);
    QTRY_VERIFY(!viewer->computing());
}

QTEST_MAIN(tst_QLumetraMainWindow)
#include "tst_QLumetraMainWindow.moc"

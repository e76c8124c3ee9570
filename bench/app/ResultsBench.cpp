// The results list with 100,000 rows on the offscreen platform: appending them in batches as a scan
// delivers them, sorting by a path, a percentage and a mark column, painting after a scroll and
// marking all but the best copy of each group; against a plain std::stable_sort of the same rows in
// the same run.
#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/frame/EngineBridge.h"
#include "app/results/CResultsPage.h"
#include "app/results/CViewList.h"
#include "app/results/GroupsModel.h"
#include "app/results/ResultsModel.h"
#include "audio/PluginList.h"
#include "engine/ScanEngine.h"
#include "engine/TrackStore.h"
#include "shell/CTranslator.h"
#include "shell/SettingsStore.h"

#include <QApplication>
#include <QLocale>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace tonemirror;

constexpr int kRows = 100000;
constexpr int kBatch = 500; // pairs per posted message, as a busy scan delivers them

std::u16string ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

const std::vector<engine::DuplicatePair>& corpus() {
    static const std::vector<engine::DuplicatePair> rows = [] {
        std::mt19937 rng(12);
        std::uniform_int_distribution<int> artist(0, 4999);
        std::uniform_int_distribution<int> percent(-300, 1000); // a third below the threshold
        std::vector<engine::DuplicatePair> out(kRows);
        for (engine::DuplicatePair& pair : out) {
            const auto path = [&] {
                const int a = artist(rng);
                const std::string name = (a % 3 == 0 ? "the " : "The ") + std::to_string(a);
                return ascii("/home/listener/Music/" + name + " Band/Album " + std::to_string(a % 17) + "/" +
                             std::to_string(rng() % 20) + " - Track " + std::to_string(rng() % 100000) +
                             ".mp3");
            };
            pair.path1 = path();
            pair.path2 = path();
            const auto value = [&] { return std::max(-100.0f, percent(rng) * 0.1f); };
            pair.contentPercent = value();
            pair.tagsPercent = value();
            pair.experimentalPercent = value();
        }
        return out;
    }();
    return rows;
}

// The program-wide objects a page needs, without plug-ins or files.
struct Program {
    QTemporaryDir folder;
    shell::SettingsStore settings{folder.filePath(QStringLiteral("settings.json")).toStdString()};
    shell::CTranslator translator;
    audio::PluginList plugins;
    engine::TrackStore store{
        engine::StorageLocations{{},
                                 {},
                                 folder.filePath(QStringLiteral("cache.dat")).toStdString(),
                                 folder.filePath(QStringLiteral("ignores.list")).toStdString()}};
    app::EngineBridge bridge;
    engine::ScanEngine engine{store, plugins, &bridge};
    app::MessageBoxPrompts prompts;
    app::AppContext context{settings, translator, plugins, store, engine, prompts};
};

Program& program() {
    static Program p;
    return p;
}

std::unique_ptr<app::CResultsPage> shownPage() {
    auto page = std::make_unique<app::CResultsPage>(program().context);
    page->resize(1100, 700);
    page->show();
    QApplication::processEvents();
    return page;
}

void BM_AppendInBatches(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto page = shownPage();
        std::vector<std::vector<engine::DuplicatePair>> batches;
        for (int first = 0; first < kRows; first += kBatch) {
            batches.emplace_back(corpus().begin() + first,
                                 corpus().begin() + std::min(kRows, first + kBatch));
        }
        state.ResumeTiming();
        for (auto& batch : batches) {
            page->addPairs(std::move(batch));
            QApplication::processEvents(); // the view catches up between messages
        }
        benchmark::DoNotOptimize(page->rowCount());
        state.PauseTiming();
        page.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = kRows;
}
BENCHMARK(BM_AppendInBatches)->Unit(benchmark::kMillisecond)->Iterations(3);

// A click on a column header: the rows are rearranged by the column's order (the direction flips
// at every click on the same column).
void BM_SortByColumn(benchmark::State& state) {
    auto page = shownPage();
    page->addPairs(corpus());
    std::mt19937 rng(12);
    for (int row = 0; row < kRows; ++row) {
        page->model()->setMarked(row, 1, rng() % 10 == 0);
    }
    const int column = static_cast<int>(state.range(0));
    for (auto _ : state) {
        page->list()->sortByHeader(column);
        QApplication::processEvents();
    }
    state.SetLabel(column == app::ResultsModel::kFile1     ? "File #1 (collation keys)"
                   : column == app::ResultsModel::kContent ? "% content"
                                                           : "marks");
}
BENCHMARK(BM_SortByColumn)
    ->Arg(app::ResultsModel::kFile1)
    ->Arg(app::ResultsModel::kContent)
    ->Arg(app::ResultsModel::kMark1)
    ->Unit(benchmark::kMillisecond);

// The baseline: the same rows sorted in place by a plain comparison (code units, no collation).
void BM_PlainStableSort(benchmark::State& state) {
    const bool byPath = state.range(0) == app::ResultsModel::kFile1;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<engine::DuplicatePair> rows = corpus();
        state.ResumeTiming();
        if (byPath) {
            std::stable_sort(rows.begin(), rows.end(),
                             [](const auto& a, const auto& b) { return a.path1 < b.path1; });
        } else {
            std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
                return a.contentPercent > b.contentPercent;
            });
        }
        benchmark::DoNotOptimize(rows.data());
        state.PauseTiming();
        rows.clear();
        state.ResumeTiming();
    }
    state.SetLabel(byPath ? "path1" : "contentPercent");
}
BENCHMARK(BM_PlainStableSort)
    ->Arg(app::ResultsModel::kFile1)
    ->Arg(app::ResultsModel::kContent)
    ->Unit(benchmark::kMillisecond);

// Tools > Mark all but the best on the 100,000 rows, without its question: the groups made (each
// file's header asked for once; no plug-in is loaded here, so each ask fails at once) and the
// plan's files marked in every row holding them.
void BM_MarkAllButBest(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto page = shownPage();
        page->addPairs(corpus());
        QApplication::processEvents();
        state.ResumeTiming();
        page->groupsModel()->rebuild();
        page->model()->setMarkedFiles(page->groupsModel()->plannedMarks());
        QApplication::processEvents();
        benchmark::DoNotOptimize(page->groupsModel()->plan().markedFiles);
        state.PauseTiming();
        page.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = kRows;
}
BENCHMARK(BM_MarkAllButBest)->Unit(benchmark::kMillisecond)->Iterations(3);

// Scrolling to somewhere else in the list and painting what shows.
void BM_ScrollAndPaint(benchmark::State& state) {
    auto page = shownPage();
    page->addPairs(corpus());
    std::mt19937 rng(3);
    app::CViewList* list = page->list();
    for (auto _ : state) {
        list->scrollTo(page->model()->index(static_cast<int>(rng() % kRows), 0));
        list->viewport()->repaint();
    }
}
BENCHMARK(BM_ScrollAndPaint)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); // collation as most users have it
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

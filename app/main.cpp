// Start-up and shutdown of the desktop program, in a fixed order.
#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/frame/CMainFrame.h"
#include "app/frame/EngineBridge.h"
#include "audio/PluginList.h"
#include "engine/ScanEngine.h"
#include "engine/TrackStore.h"
#include "shell/CTranslator.h"
#include "shell/CrashHandler.h"
#include "shell/SettingsStore.h"

#include <QApplication>
#include <QIcon>

#include <clocale>

int main(int argc, char** argv) {
    using namespace tonemirror;
    shell::installCrashHandler();         // first: a crash anywhere later leaves a report
    QApplication application(argc, argv); // the program takes no arguments
    std::setlocale(LC_ALL, "");           // lower-casing of names follows the user's locale
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/tonemirror.svg")));
    // Ties the windows to the installed desktop entry, which gives them their icon and name on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tonemirror.Tonemirror"));

    audio::PluginList plugins;
    plugins.loadFromProgramFolder();
    shell::CTranslator translator;
    translator.loadAll();
    int exitCode = 0;
    {
        shell::SettingsStore settings(shell::SettingsStore::standardFile());
        engine::TrackStore store;
        app::EngineBridge bridge;
        engine::ScanEngine engine(store, plugins, &bridge);
        app::MessageBoxPrompts prompts;
        app::AppContext context{settings, translator, plugins, store, engine, prompts};
        app::CMainFrame frame(context, bridge);
        if (frame.create()) {
            frame.showAtStoredPlacement();
            exitCode = QApplication::exec();
        }
    } // the window, the workers and the engine are gone before the plug-ins
    plugins.freeAll();
    return exitCode;
}

#include "app/command_line.h"
#include "app/sonogram_command.h"
#include "app/window_main.h"
#include "common/install_layout.h"
#include "common/native_file_name.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

namespace {

/// Loads the window library from the program's own folder (the build
/// folder), else from the installed tree's private library folder beside it
/// (the program's folder is found through /proc/self/exe, so symbolic links
/// to the program work), else by name through the program's run path, and
/// returns its entry function `symbol`; reports on standard error and returns
/// nullptr when none works.
void* load_window_entry(const char* argv0, const char* symbol) {
    std::string dir;
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        dir.assign(self, size_t(n));
        dir.erase(dir.rfind('/') + 1);
    }
    void* lib = nullptr;
    if (!dir.empty()) {
        for (const std::string& folder : {dir, dir + wavrell::private_library_dir_from_program + '/'}) {
            lib = ::dlopen((folder + window_library).c_str(), RTLD_NOW | RTLD_LOCAL);
            if (lib) break;
        }
    }
    if (!lib) lib = ::dlopen(window_library, RTLD_NOW | RTLD_LOCAL);
    void* entry = lib ? ::dlsym(lib, symbol) : nullptr;
    if (!entry) {
        const char* why = ::dlerror();
        std::fprintf(stderr, "%s: cannot start the window: %s\n", argv0, why ? why : window_library);
        return nullptr;
    }
    return entry;
}

}  // namespace

int main(int argc, char** argv) {
    QStringList args;
    // File names are taken byte for byte, also where they are not UTF-8.
    for (int i = 0; i < argc; ++i) args << wavrell::file_name_from_native(QByteArray(argv[i]));
    const wavrell::TCommandLine cl = wavrell::parse_command_line(args);
    const char* argv0 = argc > 0 ? argv[0] : "wavrell";
    if (cl.mode == wavrell::TCommandLine::Mode::Spectrogram) {
        // Painting the picture needs Qt Gui: it lives in the window library.
        void* entry = load_window_entry(argv0, "wavrell_spectrogram_main");
        return entry ? reinterpret_cast<TSpectrogramMain>(entry)(argc, argv, cl) : 1;
    }
    if (cl.mode != wavrell::TCommandLine::Mode::Window) {
        // No window, no settings: the command-line uses need no GUI, and the
        // program does not even load the GUI libraries for them.
        QCoreApplication app(argc, argv);
        app.setApplicationName(QStringLiteral("Wavrell"));
        return wavrell::run_command_line(cl);
    }
    const auto window_main = reinterpret_cast<TWindowMain>(load_window_entry(argv0, "wavrell_window_main"));
    if (!window_main) return 1;
    return window_main(argc, argv, cl.files);
}

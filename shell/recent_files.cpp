#include "shell/recent_files.h"

#include "common/message_box.h"
#include "common/regular_file.h"
#include "settings/ini_lock.h"
#include "settings/prog_id.h"
#include "settings/registry.h"
#include "settings/setting.h"
#include "shell/drive_type.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMenu>

#include <algorithm>

namespace wavrell {

namespace {
constexpr int kSlots = 16;
constexpr int kMaxItems = 15;

QString slot_key(int i) { return QString::number(i, 16).toUpper(); }

/// Only regular files count: a named pipe, a device or a folder of the same
/// name is as good as gone (opening it would be refused).
bool file_exists(const QString& path) { return is_regular_file(path); }

/// Lower case by the locale's rules, for comparing paths.
QString lower(const QString& s) { return QLocale().toLower(s); }
}  // namespace

TRecentFiles::TRecentFiles(QObject* owner)
    : QObject(owner), fclearcaption(QStringLiteral("&Clear list...")), setting(new TSetting(this)) {}

TRecentFiles::~TRecentFiles() { delete_items(); }

QString TRecentFiles::section() const { return QStringLiteral("RecentFiles") + flistname; }

QString TRecentFiles::filename(int i) const { return i >= 1 && i <= kSlots ? ffilenames[i] : QString(); }

QAction* TRecentFiles::item(int i) const { return i >= 1 && i <= kSlots ? fitems[i].data() : nullptr; }

int TRecentFiles::itemcount() const {
    int n = 0;
    for (int i = 1; i <= fmaxitems; ++i)
        if (!ffilenames[i].isEmpty()) ++n;
    return n;
}

// ---- properties

void TRecentFiles::setMenu(QMenu* v) {
    if (!floaded) {
        fmenu = v;
        return;
    }
    delete_items();
    fmenu = v;
    if (fmenu) build();
}

void TRecentFiles::setMaxItems(int v) {
    fmaxitems = std::clamp(v, 0, kMaxItems);
    for (int i = fmaxitems + 1; i <= kSlots; ++i) ffilenames[i].clear();
    insert_in_menu();
}

void TRecentFiles::setBarBefore(bool v) {
    fbarbefore = v;
    insert_in_menu();
}

void TRecentFiles::setIncludeClearItem(bool v) {
    fincludeclear = v;
    insert_in_menu();
}

void TRecentFiles::setClearCaption(const QString& v) {
    fclearcaption = v;
    if (fclearitem) fclearitem->setText(v);
    insert_in_menu();
}

// ---- loading and the menu items

void TRecentFiles::Loaded() {
    if (!fprogid) throw ESettingError(QStringLiteral("Nothing assigned to ") + objectName() + QStringLiteral(".ProgId"));
    setting->setProgId(fprogid);
    floaded = true;
    if (fmenu) build();
}

void TRecentFiles::delete_items() {
    remove_from_menu();
    for (int i = 1; i <= kSlots; ++i) delete fitems[i].data();
    delete fbaritem.data();
    delete fclearitem.data();
    finserted = false;
}

void TRecentFiles::build() {
    delete_items();
    for (int i = 1; i <= kSlots; ++i) {
        auto* a = new QAction(fmenu);
        a->setData(i);
        connect(a, &QAction::triggered, this, [this, i] { item_click(i); });
        fitems[i] = a;
    }
    // A separator without text: with a text, menus draw it as a heading.
    fbaritem = new QAction(fmenu);
    fbaritem->setSeparator(true);
    fclearitem = new QAction(fclearcaption, fmenu);
    fclearitem->setVisible(fincludeclear);
    connect(fclearitem, &QAction::triggered, this, [this] { clear_click(); });
    read_from_registry();
    set_captions();
    insert_in_menu();
}

void TRecentFiles::set_captions() {
    for (int i = 1; i <= kSlots; ++i)
        if (fitems[i]) {
            // The path is shown as it is; an "&" in it acts as an accelerator.
            fitems[i]->setText(QLatin1Char('&') + slot_key(i) + QLatin1Char(' ') + ffilenames[i]);
            fitems[i]->setEnabled(true);
        }
}

void TRecentFiles::insert_in_menu() {
    if (!floaded || !fmenu || !fbaritem || !fclearitem) return;
    write_to_registry();
    place_items();
}

void TRecentFiles::place_items() {
    if (!floaded || !fmenu || !fbaritem || !fclearitem) return;
    if (finserted) remove_from_menu();
    const QList<QAction*> actions = fmenu->actions();
    const int p = std::clamp(fmenupos, 0, int(actions.size()));
    QAction* before = p < actions.size() ? actions[p] : nullptr;
    const bool any = itemcount() > 0;
    fbaritem->setVisible(fbarbefore && any);
    fmenu->insertAction(before, fbaritem);
    for (int i = 1; i <= kSlots; ++i) {
        fitems[i]->setVisible(!ffilenames[i].isEmpty() && i <= fmaxitems);
        fmenu->insertAction(before, fitems[i]);
    }
    fclearitem->setVisible(fincludeclear && any);
    fmenu->insertAction(before, fclearitem);
    finserted = true;
}

void TRecentFiles::remove_from_menu() {
    if (!fmenu || !finserted) return;
    for (int i = kSlots; i >= 1; --i)
        if (fitems[i]) fmenu->removeAction(fitems[i]);
    if (fbaritem) fmenu->removeAction(fbaritem);
    if (fclearitem) fmenu->removeAction(fclearitem);
    finserted = false;
}

// ---- the list

void TRecentFiles::tidy_list() {
    for (int i = 1; i <= kSlots; ++i) {
        if (ffilenames[i].isEmpty()) continue;
        const QString a = lower(ffilenames[i]);
        for (int j = i + 1; j <= kSlots; ++j)
            if (lower(ffilenames[j]) == a) ffilenames[j].clear();
    }
    int to = 1;
    for (int from = 1; from <= kSlots; ++from)
        if (!ffilenames[from].isEmpty()) {
            if (from != to) ffilenames[to] = ffilenames[from];
            ++to;
        }
    for (; to <= kSlots; ++to) ffilenames[to].clear();
    set_captions();
}

bool TRecentFiles::allowed(const QString& fullpath) const {
    const QString root = drive_root(fullpath);
    if (root.isEmpty()) return true;
    switch (drive_type(root)) {
        case DriveType::NoRootDir: return false;
        case DriveType::Removable: return fallowremovable;
        case DriveType::Fixed: return fallowfixed;
        case DriveType::Remote: return fallowremote;
        case DriveType::CDROM: return fallowcdrom;
        case DriveType::RAMDisk: return fallowramdisk;
        case DriveType::Unknown: break;
    }
    return true;
}

void TRecentFiles::add(const QString& FileName) {
    if (FileName.isEmpty()) return;
    const QString full = QDir::cleanPath(QFileInfo(FileName).absoluteFilePath());
    const bool take = allowed(full);
    store([&] {
        if (!take) return;
        for (int i = kSlots; i >= 2; --i) ffilenames[i] = ffilenames[i - 1];
        ffilenames[1] = full;
    });
    place_items();
}

void TRecentFiles::clear() {
    store([this] {
        for (QString& f : ffilenames) f.clear();
    });
    place_items();
}

void TRecentFiles::remove(const QString& path) {
    store([&] {
        for (QString& f : ffilenames)
            if (f == path) f.clear();
    });
    place_items();
}

// ---- the store

void TRecentFiles::write_to_registry() { store({}); }

QString TRecentFiles::store_file() {
    // An ini file below the roaming folder, or the user's registry store
    // where that folder is not found.
    const QString ini = setting->IniFilename();
    return ini.startsWith(QLatin1Char('/')) ? ini : TRegistry::StoreFileName(RegistryRoot::CurrentUser);
}

void TRecentFiles::merge_stored() {
    // Every window keeps its list and writes it on each change: the list as
    // stored now holds what the others added since, and leads. Entries of
    // this run that no longer fit the shown slots stay below it.
    QStringList stored;
    try {
        setting->setLocation(slroaming);
        const QString s = section();
        if (setting->ReadInteger(s, QStringLiteral("nToUse"), -1) < 0) return;  // none stored yet
        // What another window added must exist, as at start-up; this
        // window's own entries were checked when they came.
        QStringList own;
        for (const QString& f : ffilenames)
            if (!f.isEmpty()) own << lower(f);
        for (int i = 1; i <= fmaxitems; ++i) {
            const QString f = setting->ReadString(s, slot_key(i), QString());
            if (!f.isEmpty() && (own.contains(lower(f)) || file_exists(f))) stored << f;
        }
    } catch (const Exception&) {
        return;  // an unreadable store keeps the list as it is
    }
    QStringList merged = stored;
    for (int i = fmaxitems + 1; i <= kSlots; ++i)
        if (!ffilenames[i].isEmpty()) merged << ffilenames[i];
    for (int i = 1; i <= kSlots; ++i) ffilenames[i] = i <= merged.size() ? merged[i - 1] : QString();
}

void TRecentFiles::store(const std::function<void()>& change) {
    if (fisreading || !floaded || !fmenu || !fbaritem || !fclearitem) {
        if (change) change();
        tidy_list();
        return;
    }
    // The lock spans reading the stored list and writing the new one, so
    // that windows changing their lists at once all keep their entries.
    QString file;
    try {
        setting->setLocation(slroaming);
        file = store_file();
        QDir().mkpath(QFileInfo(file).absolutePath());  // for the lock; the write makes it anyway
    } catch (const Exception&) {
    }
    const TIniLock lock(file);
    merge_stored();
    if (change) change();
    tidy_list();
    write_section();
}

void TRecentFiles::write_section() {
    // The section is replaced in memory and written in one piece, so the
    // file never holds half a list.
    try {
        setting->setLocation(slroaming);
        setting->setManualIniClose(true);
        const QString s = section();
        setting->DeleteSection(s);
        setting->WriteInteger(s, QStringLiteral("nToUse"), fmaxitems);
        for (int i = 1; i <= fmaxitems; ++i) {
            try {
                setting->WriteString(s, slot_key(i), ffilenames[i]);
            } catch (const EFileError&) {
                // A name an ini file cannot hold (a line break in it) is
                // stored as an empty slot, so that the rest of the list is kept.
                setting->WriteString(s, slot_key(i), QString());
            }
        }
        setting->IniClose();
    } catch (const Exception&) {
        setting->IniDiscard();
    }
    try {
        setting->setManualIniClose(false);
    } catch (const Exception&) {
    }
}

void TRecentFiles::read_from_registry() {
    fisreading = true;
    try {
        setting->setLocation(slroaming);
        const QString s = section();
        setMaxItems(setting->ReadInteger(s, QStringLiteral("nToUse"), fmaxitems));
        for (int i = 1; i <= fmaxitems; ++i) {
            ffilenames[i] = setting->ReadString(s, slot_key(i), QString());
            if (!file_exists(ffilenames[i])) ffilenames[i].clear();
        }
        tidy_list();
    } catch (const Exception&) {
    }
    fisreading = false;
}

// ---- clicks

void TRecentFiles::item_click(int n) {
    if (n < 1 || n > kSlots || ffilenames[n].isEmpty()) return;
    const QString path = ffilenames[n];
    QAction* sender = fitems[n];
    if (!file_exists(path)) {
        message_box(QStringLiteral("Can't find \r") + path, QStringLiteral("File not found"),
                    mb::OK | mb::ICONEXCLAMATION);
        remove(path);
        return;
    }
    if (OnClick) {
        add(path);
        OnClick(sender, n, path);
    }
}

void TRecentFiles::clear_click() {
    if (message_box(QStringLiteral("Do you want to clear the list of recently used files?"),
                    QStringLiteral("Clear list"), mb::YESNO | mb::ICONQUESTION) == mb::IDYES)
        clear();
}

}  // namespace wavrell

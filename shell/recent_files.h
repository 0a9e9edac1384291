#pragma once

#include "settings/prog_id.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <functional>

class QAction;
class QMenu;

namespace wavrell {

class TProgId;
class TSetting;

/// Handler of a chosen entry: sender is the clicked menu item, ItemNo the
/// slot (1..15) that was clicked, FileName its full path.
using tRecentEvent = std::function<void(QObject* sender, int ItemNo, const QString& FileName)>;

/// A numbered list of recently used files shown as a block of items inside
/// an existing drop-down menu: an optional separator, the entries "&1 path"
/// ... "&F path" and an optional clear item. The list has 16 slots; slots
/// 1..MaxItems are shown and stored, a path pushed above them stays hidden
/// for the run and comes back when an entry above it goes. The list is
/// stored in the section "RecentFiles" + ListName ("nToUse" and the keys
/// "1" ... "F") of a private TSetting at the roaming location, on every
/// change. Several windows (processes) share that list: each change reads
/// the stored list first, under the lock beside the store (TIniLock), makes
/// itself on that, and writes the result, so that no window drops what
/// another added. The menu items are created as children of the menu. GUI
/// thread.
class TRecentFiles : public QObject {
public:
    explicit TRecentFiles(QObject* owner = nullptr);
    ~TRecentFiles() override;

    QMenu* Menu() const { return fmenu; }
    /// After Loaded, assigning a menu builds the items again and re-reads
    /// the store.
    void setMenu(QMenu* v);
    int MaxItems() const { return fmaxitems; }
    /// Clamps to 0..15, empties the slots above and rebuilds the block.
    void setMaxItems(int v);
    int MenuPos() const { return fmenupos; }
    void setMenuPos(int v) { fmenupos = v; }
    bool BarBefore() const { return fbarbefore; }
    void setBarBefore(bool v);
    bool IncludeClearItem() const { return fincludeclear; }
    void setIncludeClearItem(bool v);
    QString ClearCaption() const { return fclearcaption; }
    /// Also renames an existing clear item.
    void setClearCaption(const QString& v);
    bool AllowFileOnRemovable() const { return fallowremovable; }
    void setAllowFileOnRemovable(bool v) { fallowremovable = v; }
    bool AllowFileOnRemote() const { return fallowremote; }
    void setAllowFileOnRemote(bool v) { fallowremote = v; }
    bool AllowFileOnFixed() const { return fallowfixed; }
    void setAllowFileOnFixed(bool v) { fallowfixed = v; }
    bool AllowFileOnCDROM() const { return fallowcdrom; }
    void setAllowFileOnCDROM(bool v) { fallowcdrom = v; }
    bool AllowFileOnRAMDisk() const { return fallowramdisk; }
    void setAllowFileOnRAMDisk(bool v) { fallowramdisk = v; }
    QString ListName() const { return flistname; }
    void setListName(const QString& v) { flistname = v; }
    TProgId* ProgId() const { return fprogid; }
    void setProgId(TProgId* v) { fprogid = v; }

    /// Called with a chosen entry whose file exists (after it moved to the top).
    tRecentEvent OnClick;

    /// The block is in the menu.
    bool inserted() const { return finserted; }
    /// Non-empty slots among 1..MaxItems.
    int itemcount() const;
    /// The path in slot i (1..16); empty for an empty slot.
    QString filename(int i) const;
    /// The menu item of slot i (1..16), the separator and the clear item;
    /// null before Loaded or without menu.
    QAction* item(int i) const;
    QAction* baritem() const { return fbaritem; }
    QAction* clearitem() const { return fclearitem; }

    /// Puts the file's full path at the top unless its drive type is
    /// refused; tidies and stores the list in either case. An empty name
    /// changes nothing.
    void add(const QString& FileName);
    /// Empties the list and stores it.
    void clear();
    /// Stores the list and (re)inserts the block at MenuPos.
    void insert_in_menu();
    /// Takes the block out of the menu (the items are kept).
    void remove_from_menu();
    /// Reads "nToUse" and the entries, dropping files that no longer exist.
    /// Failures of the store are ignored.
    void read_from_registry();
    /// Takes in the list as stored now (see the class) and replaces the
    /// section with it. Failures of the store are ignored.
    void write_to_registry();

    /// Runs once after the properties are set: raises ESettingError
    /// "Nothing assigned to <name>.ProgId" without identity, builds the items
    /// and reads the stored list when a menu is assigned.
    void Loaded();

    /// The section of the store: "RecentFiles" + ListName.
    QString section() const;

private:
    void build();
    void delete_items();
    void tidy_list();
    void set_captions();
    bool allowed(const QString& fullpath) const;
    void item_click(int n);
    /// Drops a path from the list and stores it.
    void remove(const QString& path);
    /// Under the store's lock: merge_stored, then `change` (may be empty) on
    /// the list, then write_section.
    void store(const std::function<void()>& change);
    /// Makes the list the stored one followed by this run's hidden entries;
    /// leaves it as it is when nothing is stored or the store fails.
    void merge_stored();
    void write_section();
    /// The file that holds the store (for its lock).
    QString store_file();
    /// Puts the block into the menu as the list is now.
    void place_items();
    void clear_click();

    QPointer<QMenu> fmenu;
    int fmaxitems = 5;
    bool fisreading = false;
    bool fbarbefore = true;
    QPointer<QAction> fbaritem;
    QString fclearcaption;
    QPointer<QAction> fclearitem;
    bool fincludeclear = true;
    std::array<QPointer<QAction>, 17> fitems;  // 1..16
    std::array<QString, 17> ffilenames;        // 1..16
    int fmenupos = 100;
    bool finserted = false;
    QString flistname;
    bool fallowremovable = false;
    bool fallowremote = true;
    bool fallowfixed = true;
    bool fallowcdrom = false;
    bool fallowramdisk = false;
    QPointer<TProgId> fprogid;
    TSetting* setting;  // owned (child)
    bool floaded = false;
};

}  // namespace wavrell

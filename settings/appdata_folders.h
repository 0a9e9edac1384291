#pragma once

#include <QString>

#include <functional>

namespace wavrell {

// The folders where settings live, by the XDG base-directory rules:
// roaming = $XDG_CONFIG_HOME, local = $XDG_DATA_HOME, common = the first
// folder of $XDG_CONFIG_DIRS, and /etc as the last-resort folder. Only this
// layer knows the XDG variables.

/// $XDG_CONFIG_HOME, or $HOME/.config when unset or not absolute; empty
/// when neither gives an absolute path.
QString xdg_config_home();
/// $XDG_DATA_HOME, or $HOME/.local/share when unset or not absolute.
QString xdg_data_home();
/// The first absolute folder of $XDG_CONFIG_DIRS, or /etc/xdg.
QString xdg_first_config_dir();

/// The special folders that the settings store asks for.
enum class SpecialFolder { Roaming, Local, Common };

/// One replaceable lookup per folder: tests assign functions here (an empty
/// text counts as "not found"); an empty function means the default lookup.
struct SpecialFolderLookups {
    std::function<QString()> roaming;         ///< default: xdg_config_home()
    std::function<QString()> local;           ///< default: xdg_data_home()
    std::function<QString()> common;          ///< default: xdg_first_config_dir()
    std::function<QString()> last_resort;     ///< default: "/etc"
    std::function<QString()> executable_path; ///< default: the running program's file
    std::function<bool()> administrator;      ///< default: the process runs as root
};

/// The lookups in force (GUI thread). Assigning {} restores every default.
SpecialFolderLookups& special_folder_lookups();

/// The folder, without a trailing "/"; empty when it is not found.
QString special_folder(SpecialFolder folder);
/// The last-resort folder (stands in for the system directory).
QString last_resort_folder();
/// The full path of the running program's executable file.
QString executable_path();
/// Whether this run may write the machine-wide stores: only an
/// administrator (root) does, whoever may write their folders, so that a
/// user's run never writes outside the user's own folders.
bool runs_as_administrator();

}  // namespace wavrell

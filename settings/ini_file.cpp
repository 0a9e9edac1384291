#include "settings/ini_file.h"

#include "common/errors.h"
#include "settings/ini_document.h"
#include "settings/ini_lock.h"

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace wavrell {

namespace {

bool has_line_break(const QString& s) {
    return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r'));
}

TIniFile::Stamp stamp_of(const QString& path, bool* is_dir = nullptr) {
    TIniFile::Stamp s;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return s;
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtime_ns = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    s.ctime_ns = static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
    if (is_dir) *is_dir = S_ISDIR(st.st_mode);
    return s;
}

/// The parsed files of the process, by path, each with the state of the
/// file it was parsed from (or written as). A document in here is not
/// changed: a TIniFile that edits one takes it out first (or copies it when
/// another TIniFile still uses it).
class ParsedFiles {
public:
    std::shared_ptr<TIniDocument> find(const QString& path, const TIniFile::Stamp& stamp) {
        QMutexLocker lock(&fmutex);
        const auto it = fentries.constFind(path);
        if (it == fentries.cend() || !(it->stamp == stamp)) return nullptr;
        return it->doc;
    }
    void keep(const QString& path, const TIniFile::Stamp& stamp, std::shared_ptr<TIniDocument> doc) {
        QMutexLocker lock(&fmutex);
        // The program uses a handful of files; a bound keeps a long run from
        // collecting the documents of files it no longer uses.
        if (fentries.size() >= 16 && !fentries.contains(path)) fentries.clear();
        fentries.insert(path, {stamp, std::move(doc)});
    }
    /// Takes the document out when it is the one kept for the path.
    void release(const QString& path, const TIniDocument* doc) {
        QMutexLocker lock(&fmutex);
        const auto it = fentries.find(path);
        if (it != fentries.end() && it->doc.get() == doc) fentries.erase(it);
    }

private:
    struct Entry {
        TIniFile::Stamp stamp;
        std::shared_ptr<TIniDocument> doc;
    };
    QMutex fmutex;
    QHash<QString, Entry> fentries;
};

ParsedFiles& parsed_files() {
    static ParsedFiles files;
    return files;
}

}  // namespace

TIniFile::TIniFile(QString filename) : ffilename(std::move(filename)) {}
TIniFile::~TIniFile() = default;

void TIniFile::load() {
    if (fdirty) return;  // changes not yet written stay until written or dropped
    if (ffilename.isEmpty()) {
        if (!fdoc) fdoc = std::make_shared<TIniDocument>();
        return;
    }
    bool dir = false;
    const Stamp now = stamp_of(ffilename, &dir);
    if (fdoc && !freadfailed && now == fstamp) return;
    freadfailed = false;
    fstamp = now;
    if (!now.exists) {
        fdoc = std::make_shared<TIniDocument>();
        return;
    }
    if (auto doc = parsed_files().find(ffilename, now)) {
        fdoc = std::move(doc);
        return;
    }
    QFile f(ffilename);
    std::shared_ptr<TIniDocument> doc;
    if (dir) {
        freaderror = QStringLiteral("it is a folder");
    } else if (!f.open(QIODevice::ReadOnly)) {
        freaderror = f.errorString();
    } else {
        const QByteArray data = f.readAll();
        if (f.error() != QFileDevice::NoError)
            freaderror = f.errorString();
        else
            doc = std::shared_ptr<TIniDocument>(TIniDocument::parse(data));
    }
    if (!doc) {
        freadfailed = true;
        fstamp = {};  // tried again at the next access
        fdoc = std::make_shared<TIniDocument>();
        return;
    }
    fdoc = std::move(doc);
    parsed_files().keep(ffilename, now, fdoc);
}

TIniDocument& TIniFile::edit() {
    parsed_files().release(ffilename, fdoc.get());
    if (fdoc.use_count() > 1) fdoc = std::shared_ptr<TIniDocument>(fdoc->clone());
    fdirty = true;
    return *fdoc;
}

void TIniFile::change(std::function<void(TIniDocument&)> op) {
    op(edit());
    fpending.push_back(std::move(op));
}

bool TIniFile::reload_for_write() {
    QFile f(ffilename);
    const Stamp now = stamp_of(ffilename);
    std::shared_ptr<TIniDocument> doc;
    if (!now.exists) {
        doc = std::make_shared<TIniDocument>();
    } else {
        if (!f.open(QIODevice::ReadOnly)) return false;
        const QByteArray data = f.readAll();
        if (f.error() != QFileDevice::NoError) return false;
        doc = std::shared_ptr<TIniDocument>(TIniDocument::parse(data));
    }
    for (const auto& op : fpending) op(*doc);
    fdoc = std::move(doc);
    fstamp = now;
    return true;
}

bool TIniFile::ReadFailed() {
    load();
    return freadfailed;
}

bool TIniFile::ReadValue(const QString& section, const QString& key, QString* value) {
    load();
    return fdoc->read_value(section, key, value);
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultvalue) {
    QString v;
    return ReadValue(section, key, &v) ? v : defaultvalue;
}

bool TIniFile::SectionExists(const QString& section) {
    load();
    return fdoc->section_exists(section);
}

bool TIniFile::ValueExists(const QString& section, const QString& key) {
    return ReadValue(section, key, nullptr);
}

QStringList TIniFile::ReadSection(const QString& section) {
    load();
    return fdoc->section_keys(section);
}

QStringList TIniFile::ReadSections() {
    load();
    return fdoc->section_names();
}

QStringList TIniFile::SectionsWithPrefix(const QString& prefix) {
    load();
    return fdoc->sections_with_prefix(prefix);
}

bool TIniFile::AnySectionWithPrefix(const QString& prefix) {
    load();
    return fdoc->any_section_with_prefix(prefix);
}

void TIniFile::check_writable() const {
    if (ffilename.isEmpty()) throw EFileError(QStringLiteral("No ini file name given"));
    if (freadfailed)
        throw EFileError(QStringLiteral("Cannot read %1: %2; the file is left unchanged")
                             .arg(ffilename, freaderror));
}

void TIniFile::AddSection(const QString& section) {
    load();
    check_writable();
    if (has_line_break(section) || section != section.trimmed())
        throw EFileError(QStringLiteral("The section name \"%1\" cannot be stored in the ini file %2")
                             .arg(section, ffilename));
    if (fdoc->section_exists(section)) return;
    change([section](TIniDocument& d) { d.add_section(section); });
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    load();
    check_writable();
    const QString t = key.trimmed();
    if (key.isEmpty() || key != t || key.contains(QLatin1Char('=')) || has_line_break(key) ||
        t.startsWith(QLatin1Char('[')) || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#')))
        throw EFileError(QStringLiteral("The key name \"%1\" cannot be stored in the ini file %2")
                             .arg(key, ffilename));
    if (has_line_break(value))
        throw EFileError(QStringLiteral("The value of \"%1\" holds a line break, which the ini file %2 "
                                        "cannot store")
                             .arg(key, ffilename));
    AddSection(section);
    QString old;
    if (fdoc->read_value(section, key, &old) && old == value) return;
    change([section, key, value](TIniDocument& d) { d.write_value(section, key, value); });
}

void TIniFile::EraseSection(const QString& section) {
    load();
    if (!fdoc->section_exists(section)) return;
    check_writable();
    change([section](TIniDocument& d) { d.erase_section(section); });
}

void TIniFile::DeleteKey(const QString& section, const QString& key) {
    load();
    if (!fdoc->read_value(section, key, nullptr)) return;
    check_writable();
    change([section, key](TIniDocument& d) { d.delete_key(section, key); });
}

void TIniFile::UpdateFile() {
    if (!fdirty) {
        release();
        return;
    }
    const TIniLock lock(ffilename);
    // Another process wrote the file since it was read: the changes go onto
    // what it holds now. A file that has become unreadable is left alone.
    if (stamp_of(ffilename) != fstamp && !reload_for_write()) {
        Discard();
        throw EFileError(QStringLiteral("Cannot read %1 again before writing it; the file is left unchanged")
                             .arg(ffilename));
    }
    const QByteArray before = fdoc->source();
    // From here on the document is what the file is to hold; when writing
    // fails, it is dropped.
    const QByteArray data = fdoc->commit();
    if (!(fstamp.exists && data == before && stamp_of(ffilename) == fstamp)) {
        QSaveFile f(ffilename);
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit()) {
            const QString why = f.errorString();
            Discard();
            throw EFileError(QStringLiteral("Cannot write %1: %2").arg(ffilename, why));
        }
        fstamp = stamp_of(ffilename);
    }
    fdirty = false;
    fpending.clear();
    parsed_files().keep(ffilename, fstamp, fdoc);  // what was written is known: no parse of it
    release();
}

void TIniFile::release() {
    // The parsed file stays with the others of the process; the next access
    // takes it from there (or reads the file again if it changed), and an
    // edit by another TIniFile of the same file need not copy it.
    if (!freadfailed) fdoc.reset();
}

void TIniFile::Discard() {
    if (!fdirty) return;
    fdirty = false;
    fpending.clear();
    fdoc.reset();
    fstamp = {};
}

}  // namespace wavrell

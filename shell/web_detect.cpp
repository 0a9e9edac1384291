#include "shell/web_detect.h"

#include "common/install_layout.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>

namespace wavrell {

namespace {
/// The file QLibrary should load for `name`: a bare name found next to the
/// executable (the build folder) or in the private library folder beside it
/// (an installed tree), else the name itself (system search path).
QString library_path(const QString& name) {
    if (name.isEmpty() || name.contains(QLatin1Char('/'))) return name;
    const QString dir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    for (const QString& local :
         {dir + name, dir + QLatin1String(private_library_dir_from_program) + QLatin1Char('/') + name})
        if (QFileInfo::exists(local)) return local;
    return name;
}
}  // namespace

TWebDetect::TWebDetect(QObject* owner) : QObject(owner) {}

TWebDetect::~TWebDetect() { unbind(); }

void TWebDetect::unbind() {
    InternetGetConnectedState = nullptr;
    fvaliddll = false;
    if (fdllinst) {
        fdllinst->unload();
        fdllinst.reset();
    }
}

void TWebDetect::setDLLName(const QString& name) {
    if (name == fdllname) return;
    unbind();
    fdllname = name;
    if (name.isEmpty()) return;
    auto lib = std::make_unique<QLibrary>(library_path(name));
    if (!lib->load()) return;
    InternetGetConnectedState =
        reinterpret_cast<ConnectedStateFn>(lib->resolve("InternetGetConnectedState"));
    fvaliddll = InternetGetConnectedState != nullptr;
    if (!fvaliddll) {
        lib->unload();
        return;
    }
    fdllinst = std::move(lib);
}

bool TWebDetect::query(uint32_t* flags) const {
    *flags = 0;
    return InternetGetConnectedState(flags, 0) != 0;
}

bool TWebDetect::Online() const {
    if (!fvaliddll) return false;
    uint32_t flags = 0;
    return query(&flags);
}

bool TWebDetect::has_flag(uint32_t bit) const {
    if (!fvaliddll) return false;
    uint32_t flags = 0;
    query(&flags);
    return (flags & bit) != 0;
}

QString TWebDetect::ConnectStr() const {
    if (!fvaliddll) return QStringLiteral("IE4+ not installed");
    uint32_t flags = 0;
    if (!query(&flags)) return QStringLiteral("Not connected to the internet now.");
    QString s;
    if (flags & INTERNET_CONNECTION_CONFIGURED)
        s += QStringLiteral("You have a network connection configured.\r");
    if (flags & INTERNET_CONNECTION_LAN) {
        s += QStringLiteral("The local system connects to the Internet via a LAN");
        s += (flags & INTERNET_CONNECTION_PROXY) ? QStringLiteral(", and uses a proxy server. ")
                                                 : QStringLiteral(".");
    }
    if (flags & INTERNET_CONNECTION_MODEM)
        s += QStringLiteral("The local system uses a modem to connect to the Internet. ");
    if (flags & INTERNET_CONNECTION_OFFLINE) s += QStringLiteral("The connection is currently offline. ");
    if (flags & INTERNET_CONNECTION_MODEM_BUSY)
        s += QStringLiteral("The local system's modem is busy with a non-Internet connection. ");
    if (flags & INTERNET_RAS_INSTALLED)
        s += QStringLiteral("Remote Access Services are installed on this system.");
    return s;
}

}  // namespace wavrell

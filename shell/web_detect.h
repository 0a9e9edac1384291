#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class QLibrary;

namespace wavrell {

/// File name of the program's connection-state library, built next to the
/// executable and installed in the private library folder beside it.
inline const QString connection_state_library = QStringLiteral("libwavrellconnstate.so");

/// Asks the system whether the machine is connected to the Internet and how.
/// Binds at run time to the function InternetGetConnectedState of the
/// library named by `DLLName`, so that the program runs without it: while
/// unbound every query answers false. Every read queries the system afresh.
/// GUI thread.
class TWebDetect : public QObject {
public:
    // Flag bits of the connection-state word.
    static constexpr uint32_t INTERNET_CONNECTION_MODEM = 0x01;
    static constexpr uint32_t INTERNET_CONNECTION_LAN = 0x02;
    static constexpr uint32_t INTERNET_CONNECTION_PROXY = 0x04;
    static constexpr uint32_t INTERNET_CONNECTION_MODEM_BUSY = 0x08;
    static constexpr uint32_t INTERNET_RAS_INSTALLED = 0x10;
    static constexpr uint32_t INTERNET_CONNECTION_OFFLINE = 0x20;
    static constexpr uint32_t INTERNET_CONNECTION_CONFIGURED = 0x40;

    /// Unbound until the owner writes DLLName.
    explicit TWebDetect(QObject* owner = nullptr);
    ~TWebDetect() override;

    QString DLLName() const { return fdllname; }
    /// Frees the library bound so far and binds to the named one. A name
    /// without a folder is looked for next to the executable first, then in
    /// the installed tree's private library folder beside it, then
    /// along the system's library path. Writing the current name does
    /// nothing.
    void setDLLName(const QString& name);

    bool ValidDLL() const { return fvaliddll; }
    bool Online() const;
    bool ConnectedViaModem() const { return has_flag(INTERNET_CONNECTION_MODEM); }
    bool ConnectedViaLAN() const { return has_flag(INTERNET_CONNECTION_LAN); }
    bool ConnectedViaProxy() const { return has_flag(INTERNET_CONNECTION_PROXY); }
    bool RASInstalled() const { return has_flag(INTERNET_RAS_INSTALLED); }
    /// One sentence (or several) describing the current state.
    QString ConnectStr() const;

private:
    using ConnectedStateFn = int (*)(uint32_t* flags, uint32_t reserved);

    /// The function's answer; *flags filled. Bound only.
    bool query(uint32_t* flags) const;
    bool has_flag(uint32_t bit) const;
    void unbind();

    QString fdllname;
    bool fvaliddll = false;
    std::unique_ptr<QLibrary> fdllinst;
    ConnectedStateFn InternetGetConnectedState = nullptr;
};

}  // namespace wavrell

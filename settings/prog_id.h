#pragma once

#include <QObject>
#include <QString>

namespace wavrell {

/// Names the program: product, version, company and copyright. Other
/// components point at one instance and derive storage paths and the
/// new-version comparison from it. Holds no behaviour beyond AutoVersion.
class TProgId : public QObject {
public:
    explicit TProgId(QObject* owner = nullptr) : QObject(owner) {}

    QString ProductName() const { return fProductName; }
    void setProductName(const QString& v) { fProductName = v; }
    bool AutoVersion() const { return fautoversion; }
    void setAutoVersion(bool v) { fautoversion = v; }
    /// "3.0" while AutoVersion is on; the stored text otherwise (kept either way).
    QString Version() const { return fautoversion ? QStringLiteral("3.0") : fVersion; }
    void setVersion(const QString& v) { fVersion = v; }
    QString Company() const { return fCompany; }
    void setCompany(const QString& v) { fCompany = v; }
    QString Copyright() const { return fCopyright; }
    void setCopyright(const QString& v) { fCopyright = v; }

private:
    QString fProductName;
    QString fVersion;
    bool fautoversion = false;
    QString fCompany;
    QString fCopyright;
};

}  // namespace wavrell

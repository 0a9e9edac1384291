#pragma once

#include <QString>
#include <exception>
#include <string>

namespace wavrell {

/// Base of every error the program raises on purpose. Carries the message
/// text shown to the user; "\r" in a message stands for a line break.
class Exception : public std::exception {
public:
    explicit Exception(QString message)
        : fmessage(std::move(message)), futf8(fmessage.toStdString()) {}
    const QString& message() const noexcept { return fmessage; }
    const char* what() const noexcept override { return futf8.c_str(); }

private:
    QString fmessage;
    std::string futf8;
};

/// Declares an error class of a component, derived from Exception.
#define WAVRELL_DECLARE_ERROR(Name)                                  \
    class Name : public ::wavrell::Exception {                      \
    public:                                                         \
        using ::wavrell::Exception::Exception;                      \
    }

/// Text that is not a number where a number is required.
WAVRELL_DECLARE_ERROR(EConvertError);
/// A real-to-integer conversion whose result does not fit.
WAVRELL_DECLARE_ERROR(ERangeError);
/// Floating-point division by zero or an invalid operation (square root or
/// logarithm of a negative number, 0/0) where the program must not go on with
/// inf or NaN.
WAVRELL_DECLARE_ERROR(EMathError);
/// A file could not be read or written, or its contents are not usable.
WAVRELL_DECLARE_ERROR(EFileError);

/// Turns "\r" line breaks of a message into the "\n" a widget shows.
inline QString display_text(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

}  // namespace wavrell

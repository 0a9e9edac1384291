#include "common/native_file_name.h"

#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace wavrell {
namespace {

TEST(NativeFileName, EveryByteStringComesBackAndUtf8DecodesAsUtf8) {
    struct Case {
        const char* what;
        QByteArray bytes;
        bool utf8;
    };
    const Case cases[] = {
        {"ASCII", "/music/a b.wav", true},
        {"two- and three-byte letters", "/m\xC3\xBCsik/\xE6\x97\xA5.wav", true},
        {"four-byte letter", "/\xF0\x9F\x8E\xB5.wav", true},
        {"four-byte letter whose low surrogate looks like an escape", "/\xF0\x9F\x92\x80.wav", true},
        {"0xFF", "/a\xFF" "b.wav", false},
        {"Latin-1 letter", "/caf\xE9.wav", false},
        {"lone continuation byte", "/\x80.wav", false},
        {"cut-off sequence at the end", "/a\xE6\x97", false},
        {"cut-off sequence before ASCII", "/\xE6\x97.wav", false},
        {"overlong slash", "/\xC0\xAF.wav", false},
        {"overlong three-byte form", "/\xE0\x80\xAF.wav", false},
        {"encoded surrogate", "/\xED\xA0\x80.wav", false},
        {"beyond U+10FFFF", "/\xF4\x90\x80\x80.wav", false},
        {"escape-range byte right after a four-byte letter", "/\xF0\x9F\x8E\xB5\xDC.wav", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString name = file_name_from_native(c.bytes);
        EXPECT_EQ(native_file_name(name), c.bytes);
        if (c.utf8) {
            EXPECT_EQ(name, QString::fromUtf8(c.bytes));
        } else {
            // Qt's own conversion loses the bytes; this one does not.
            EXPECT_NE(QFile::encodeName(QFile::decodeName(c.bytes)), c.bytes);
            EXPECT_FALSE(name.contains(QChar(0xFFFD)));
        }
    }
    // Text that no byte string gives (a lone high surrogate) still converts.
    EXPECT_FALSE(native_file_name(QString(QChar(0xD800))).isEmpty());

    QRandomGenerator rng(16);
    for (int round = 0; round < 20000; ++round) {
        QByteArray b(int(rng.bounded(1, 12)), '\0');
        for (char& ch : b) ch = char(rng.bounded(1, 256));
        ASSERT_EQ(native_file_name(file_name_from_native(b)), b) << b.toHex().toStdString();
    }
}

}  // namespace
}  // namespace wavrell

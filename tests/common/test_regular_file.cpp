#include "common/regular_file.h"

#include "common/errors.h"
#include "common/native_file_name.h"
#include "tests/support/test_support.h"

#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

namespace wavrell {
namespace {

TEST(RegularFile, OnlyRegularFilesPassAndTheRestIsNamedWithWhatItIs) {
    auto dir = test::build_temp_dir();
    QFile(dir->filePath(QStringLiteral("plain.wav"))).open(QIODevice::WriteOnly);
    const test::BytesNamedFile file(dir->filePath(QStringLiteral("plain.wav")), "a\xFF" "b.wav");
    const QString& odd = file.name;
    const QString link = dir->filePath(QStringLiteral("link.wav"));
    ASSERT_EQ(::symlink(native_file_name(odd).constData(), native_file_name(link).constData()), 0);
    for (const QString& ok : {odd, link}) {
        EXPECT_TRUE(is_regular_file(ok)) << ok.toStdString();
        EXPECT_NO_THROW(check_regular_file(ok));
    }

    std::vector<test::SpecialFile> refused = test::special_files(*dir);
    const QString pipelink = dir->filePath(QStringLiteral("pipelink.wav"));
    ASSERT_EQ(::symlink(native_file_name(refused[0].path).constData(), native_file_name(pipelink).constData()), 0);
    refused.push_back({"link to a named pipe", pipelink, "it is a named pipe (FIFO), not a file"});
    refused.push_back({"missing file", dir->filePath(QStringLiteral("missing.wav")), "No such file or directory"});
    refused.push_back({"empty name", QString(), "No such file or directory"});
    for (const test::SpecialFile& f : refused) {
        SCOPED_TRACE(f.what);
        EXPECT_FALSE(is_regular_file(f.path));
        try {
            check_regular_file(f.path);
            ADD_FAILURE() << "not refused";
        } catch (const EFileError& e) {
            EXPECT_EQ(e.message(), QStringLiteral("Cannot open \"%1\": %2").arg(f.path, QLatin1String(f.reason)));
        }
    }
}

}  // namespace
}  // namespace wavrell

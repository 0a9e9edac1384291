// The date a build stands for (the About box's date), as the build works it
// out when configuring: cmake/source_date.cmake run as a script on source
// folders with and without git history, with and without SOURCE_DATE_EPOCH.

#include "tests/support/test_support.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

#include <optional>

namespace wavrell {
namespace {

struct Outcome {
    int exit_code = -1;
    QString text;  // "<day number> <YYYY-MM-DD> <origin>", or the error
};

/// Runs the module on `source` with SOURCE_DATE_EPOCH set to `epoch` (unset
/// when absent); git looks no further up than `ceiling`.
Outcome source_date(const QString& source, std::optional<QString> epoch, const QString& ceiling) {
    QProcess p;
    auto env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("SOURCE_DATE_EPOCH"));
    if (epoch) env.insert(QStringLiteral("SOURCE_DATE_EPOCH"), *epoch);
    env.insert(QStringLiteral("GIT_CEILING_DIRECTORIES"), ceiling);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(WAVRELL_CMAKE),
            {QStringLiteral("-DSOURCE_DIR=") + source, QStringLiteral("-DRELEASE_DATE=2000-02-29"), QStringLiteral("-P"),
             QStringLiteral(WAVRELL_SOURCE_DIR "/cmake/source_date.cmake")});
    EXPECT_TRUE(p.waitForFinished(60000));
    // message() writes to standard error.
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardError()).simplified()};
}

/// A git repository with one commit made at `date` (ISO 8601 with offset).
QString repository_with_commit(const QString& dir, const QString& date) {
    QDir().mkpath(dir);
    QProcess git;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("GIT_COMMITTER_DATE"), date);
    env.insert(QStringLiteral("GIT_AUTHOR_DATE"), date);
    git.setProcessEnvironment(env);
    git.setWorkingDirectory(dir);
    for (const QStringList& args :
         {QStringList{QStringLiteral("init"), QStringLiteral("-q")},
          QStringList{QStringLiteral("-c"), QStringLiteral("user.name=Wavrell test"), QStringLiteral("-c"),
                      QStringLiteral("user.email=test@wavrell.example"), QStringLiteral("commit"), QStringLiteral("-q"),
                      QStringLiteral("--allow-empty"), QStringLiteral("-m"), QStringLiteral("one commit")}}) {
        git.start(QStringLiteral("git"), args);
        EXPECT_TRUE(git.waitForFinished(60000));
        EXPECT_EQ(git.exitCode(), 0) << git.readAllStandardError().toStdString();
    }
    return dir;
}

TEST(SourceDate, FromTheEnvironmentElseTheLastCommitElseTheReleaseNeverTheClock) {
    const auto dir = test::build_temp_dir();
    const QString plain = dir->filePath(QStringLiteral("plain"));
    QDir().mkpath(plain);
    // Committed at 01:30 on the 5th in a zone 5 hours ahead: 20:30 on the
    // 4th in UTC, which is the day that counts wherever the build runs.
    const QString repo = repository_with_commit(dir->filePath(QStringLiteral("repo")),
                                                QStringLiteral("2011-03-05T01:30:00+05:00"));

    struct Case {
        const char* what;
        QString source;
        std::optional<QString> epoch;
        QString expected;
    };
    const Case cases[] = {
        {"the environment wins over git", repo, QStringLiteral("0"), QStringLiteral("25569 1970-01-01 environment")},
        {"last second of a day, UTC", plain, QStringLiteral("86399"), QStringLiteral("25569 1970-01-01 environment")},
        {"a recent date", plain, QStringLiteral("1796940644"), QStringLiteral("46366 2026-12-10 environment")},
        {"the last commit, in UTC", repo, std::nullopt, QStringLiteral("40606 2011-03-04 git")},
        {"no git history: the release", plain, std::nullopt, QStringLiteral("36585 2000-02-29 release")},
        {"empty counts as unset", plain, QString(), QStringLiteral("36585 2000-02-29 release")},
    };
    for (const Case& c : cases) {
        const Outcome o = source_date(c.source, c.epoch, dir->path());
        EXPECT_EQ(o.exit_code, 0) << c.what << ": " << o.text.toStdString();
        EXPECT_EQ(o.text, c.expected) << c.what;
    }

    // A value that is not a time stops the configuration with a message
    // naming it, rather than dating the build wrongly.
    const Outcome bad = source_date(plain, QStringLiteral("12abc"), dir->path());
    EXPECT_NE(bad.exit_code, 0);
    EXPECT_TRUE(bad.text.contains(QLatin1String("SOURCE_DATE_EPOCH")) && bad.text.contains(QLatin1String("12abc")))
        << bad.text.toStdString();
}

}  // namespace
}  // namespace wavrell

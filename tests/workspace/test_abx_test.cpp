// The blind test's model: exact binomial tails, the three-digit p-value,
// trials driven by a replaced random source and clock, and the signed log.

#include "workspace/abx_log.h"
#include "workspace/abx_test.h"
#include "workspace/workspace.h"
#include "common/errors.h"
#include "settings/appdata_folders.h"
#include "tests/support/test_support.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <deque>

namespace wavrell {
namespace {

// P(K ≥ k) for n fair coin tosses from exact integer binomial coefficients.
double exact_tail(int n, int k) {
    unsigned long long c = 1, sum = 0;  // C(n, i), exact for n ≤ 62
    for (int i = 0; i <= n; ++i) {
        if (i >= k) sum += c;
        c = c * (unsigned long long)(n - i) / (unsigned long long)(i + 1);
    }
    return double(sum) / std::ldexp(1.0, n);
}

TEST(AbxTest, PValueIsTheExactBinomialTail) {
    struct Case {
        int n, k;
    };
    const Case cases[] = {{0, 0}, {1, 0}, {1, 1}, {8, 7}, {16, 16}, {16, 8}, {16, 12}, {16, 0},
                          {10, 9}, {20, 15}, {25, 20}, {40, 31}, {60, 45}, {60, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.k << "/" << c.n);
        const double want = exact_tail(c.n, c.k);
        EXPECT_NEAR(TAbxTest::binomial_tail(c.n, c.k), want, want * 1e-13);
    }
    EXPECT_EQ(TAbxTest::binomial_tail(0, 0), 1.0);
    EXPECT_EQ(TAbxTest::binomial_tail(16, 16), 1.0 / 65536);
    EXPECT_DOUBLE_EQ(TAbxTest::binomial_tail(16, 8), 39203.0 / 65536);
    EXPECT_EQ(TAbxTest::binomial_tail(8, 9), 0.0);
    // Beyond exact integers: the two tails of a symmetric distribution add
    // up to one, P(K ≥ k) + P(K ≥ n − k + 1) = 1.
    for (int k : {1, 400, 500, 530, 700})
        EXPECT_NEAR(TAbxTest::binomial_tail(1000, k) + TAbxTest::binomial_tail(1000, 1000 - k + 1), 1.0, 1e-12) << k;
    EXPECT_GT(TAbxTest::binomial_tail(1000, 1000), 0.0);  // 2^−1000, not lost
}

TEST(AbxTest, ThreeSignificantDigits) {
    const std::pair<double, const char*> cases[] = {
        {9.0 / 256, "0.0352"}, {1.0, "1.00"},       {0.5, "0.500"},    {39203.0 / 65536, "0.598"},
        {1.0 / 65536, "0.0000153"}, {0.0999999, "0.100"}, {0.00099949, "0.000999"}, {0.00099951, "0.00100"}, {std::ldexp(1.0, -30), "9.31e-10"},
    };
    for (const auto& [p, text] : cases) EXPECT_EQ(TAbxTest::three_significant(p).toStdString(), text) << p;
}

// A test fed by a replaced source and clock: X follows the source trial by
// trial, each answer is scored against it, and times and switches belong
// to their own trial.
class ScriptedTest : public ::testing::Test {
protected:
    std::deque<int> picks{1, 0, 0, 1, 1};
    int drawn = 0;
    int64_t now = 1000;
    TAbxTest test{[this] {
                      ++drawn;
                      const int v = picks.front();
                      picks.pop_front();
                      return v;
                  },
                  [this] { return now; }};
};

TEST_F(ScriptedTest, TrialsFollowTheRandomSource) {
    EXPECT_FALSE(test.running());
    EXPECT_FALSE(test.answer(0)) << "an answer without a test";
    test.start(4);
    EXPECT_EQ(drawn, 4) << "every X is drawn before the first answer";
    EXPECT_TRUE(test.running());
    EXPECT_EQ(test.trial(), 1);
    EXPECT_EQ(test.x(), 1);
    test.note_switch();
    test.note_switch();
    now += 2500;
    EXPECT_FALSE(test.answer(1));  // right
    EXPECT_EQ(test.trial(), 2);
    EXPECT_EQ(test.x(), 0);
    EXPECT_EQ(test.switches(), 0);
    now += 700;
    EXPECT_FALSE(test.answer(1));  // wrong
    test.note_switch();
    EXPECT_FALSE(test.answer(0));  // right
    EXPECT_TRUE(test.answer(1));   // right, the last
    EXPECT_TRUE(test.finished());
    EXPECT_FALSE(test.running());
    EXPECT_EQ(drawn, 4) << "no X drawn after the start";
    test.note_switch();
    EXPECT_FALSE(test.answer(1));

    ASSERT_EQ(test.trials().size(), 4u);
    const int truth[] = {1, 0, 0, 1}, said[] = {1, 1, 0, 1}, switches[] = {2, 0, 1, 0};
    const int64_t ms[] = {2500, 700, 0, 0};
    for (int i = 0; i < 4; ++i) {
        const TAbxTrial& t = test.trials()[size_t(i)];
        EXPECT_EQ(t.number, i + 1);
        EXPECT_EQ(t.truth, truth[i]);
        EXPECT_EQ(t.answer, said[i]);
        EXPECT_EQ(t.correct, truth[i] == said[i]);
        EXPECT_EQ(t.switches, switches[i]);
        EXPECT_EQ(t.ms, ms[i]);
    }
    EXPECT_EQ(test.correct(), 3);
    EXPECT_EQ(test.pvalue(), 5.0 / 16);
    EXPECT_EQ(test.score_text().toStdString(), "3/4 correct, p = 0.312");

    // A new start forgets the answers.
    test.start(0);
    EXPECT_EQ(test.planned(), 1);
    EXPECT_EQ(test.done(), 0);
    EXPECT_TRUE(test.running());
}

// The system source gives both sides, in about equal shares (the bounds
// lie more than six standard deviations out).
TEST(AbxTest, SystemSourceGivesBothSides) {
    int b = 0;
    for (int i = 0; i < 4000; ++i) {
        const int v = TAbxTest::system_pick();
        ASSERT_TRUE(v == 0 || v == 1);
        b += v;
    }
    EXPECT_GT(b, 1800);
    EXPECT_LT(b, 2200);
}

QByteArray sha256sum(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("sha256sum"), {path});
    EXPECT_TRUE(p.waitForFinished(10000));
    return p.readAllStandardOutput().left(64);
}

void write_bytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    EXPECT_EQ(f.write(bytes), bytes.size());
}

TEST_F(ScriptedTest, LogHoldsEveryFieldAndItsOwnHash) {
    auto dir = test::build_temp_dir();
    const QString a = dir->filePath(QStringLiteral("a ä.wav")), b = dir->filePath(QStringLiteral("b.wav"));
    write_bytes(a, QByteArray(1000, 'x'));
    write_bytes(b, QByteArray(70000, 'y'));
    TAbxLogHeader h;
    h.program = QStringLiteral("Wavrell 0.2");
    h.when = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7));
    h.files = {abx_file_facts(a), abx_file_facts(b)};
    h.files[0].rate = 44100;
    h.files[1].rate = 44100;
    h.files[1].sourcerate = 48000;
    EXPECT_EQ(h.files[0].size, 1000);
    EXPECT_EQ(h.files[0].sha256, sha256sum(a));
    EXPECT_EQ(h.files[1].sha256, sha256sum(b));
    const TAbxFileFacts missing = abx_file_facts(dir->filePath(QStringLiteral("gone.wav")));
    EXPECT_EQ(missing.size, -1);
    EXPECT_FALSE(missing.error.isEmpty());
    h.conditions.criterion = QStringLiteral("Integrated loudness");
    h.conditions.matching = true;
    h.conditions.factordb = {-3.5, 0.0};
    h.conditions.offsetframes = -12;
    h.conditions.offsetms = -12000.0 / 44100;
    h.conditions.polarity = TAbxPolarity::corrected;

    test.start(2);
    test.note_switch();
    now += 1234;
    test.answer(1);
    test.answer(1);
    const QByteArray log = abx_log_text(h, test);
    const QString text = QString::fromUtf8(log);
    const QStringList lines = text.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.last(), QString()) << "the log ends with a line break";
    const QStringList expected = {
        QStringLiteral("Program: Wavrell 0.2"),
        QStringLiteral("Date: 2026-03-04T05:06:07"),
        QStringLiteral("File A (file 1): ") + a,
        QStringLiteral("  Size: 1000 bytes"),
        QStringLiteral("  File SHA-256: ") + QString::fromLatin1(sha256sum(a)),
        QStringLiteral("  Sampling rate: 44100 Hz"),
        QStringLiteral("File B (file 2): ") + b,
        QStringLiteral("  Size: 70000 bytes"),
        QStringLiteral("  Sampling rate: 44100 Hz (converted from 48000 Hz)"),
        QStringLiteral("Level matching: Integrated loudness, on"),
        QStringLiteral("Factor A: -3.50 dB"),
        QStringLiteral("Factor B: +0.00 dB"),
        QStringLiteral("Alignment offset of B: -12 frames (-0.272 ms)"),
        QStringLiteral("Polarity of B: corrected"),
        QStringLiteral("Planned trials: 2"),
        QStringLiteral("    1  B       B      yes         1.234         1"),
        QStringLiteral("    2  B       A      no          0.000         0"),
        QStringLiteral("Score: 1 of 2 correct"),
        QStringLiteral("p-value: 0.75"),
        QStringLiteral("p-value (3 significant digits): 0.750"),
    };
    for (const QString& e : expected) EXPECT_TRUE(lines.contains(e)) << e.toStdString() << "\n" << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Ended early")));
    EXPECT_FALSE(text.contains(QStringLiteral("Score shown")));

    // The last line is the hash of every byte before it.
    const QString last = lines[lines.size() - 2];
    ASSERT_TRUE(last.startsWith(QStringLiteral("SHA-256: "))) << last.toStdString();
    const qsizetype cut = log.lastIndexOf("SHA-256: ");
    EXPECT_EQ(last.mid(9).toLatin1(), QCryptographicHash::hash(log.left(cut), QCryptographicHash::Sha256).toHex());
    EXPECT_TRUE(abx_log_intact(log));
    QByteArray edited = log;
    edited.replace("1  B       B      yes", "1  A       B      yes");
    EXPECT_FALSE(abx_log_intact(edited));
}

// Logs go to $XDG_DATA_HOME/wavrell/abx under the time's name; a second log
// within the same second takes a new name instead of replacing the first;
// a log saved during the test says that it ended early.
TEST_F(ScriptedTest, LogFilesAreNamedByTheirTime) {
    auto dir = test::build_temp_dir();
    special_folder_lookups().local = [&] { return dir->path(); };
    const QString folder = abx_log_folder();
    EXPECT_EQ(folder, dir->path() + QStringLiteral("/wavrell/abx"));
    test.start(3);
    test.answer(0);
    TAbxLogHeader h;
    h.when = QDateTime(QDate(2026, 12, 31), QTime(23, 59, 58));
    const QByteArray log = abx_log_text(h, test);
    EXPECT_TRUE(log.contains("\nEnded early after 1 trials (of 3 planned); the key and the X sequence stay secret\n"));
    EXPECT_FALSE(log.contains("Key: ")) << "the X's of the trials to come stay secret";
    EXPECT_TRUE(abx_log_intact(log));
    const QString first = write_abx_log(log, h.when, folder);
    const QString second = write_abx_log(log, h.when, folder);
    EXPECT_EQ(first, folder + QStringLiteral("/abx-20261231-235958.txt"));
    EXPECT_EQ(second, folder + QStringLiteral("/abx-20261231-235958-2.txt"));
    for (const QString& path : {first, second}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), log);
    }
    // A folder that cannot be made: the error names it.
    QFile blocker(dir->filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    try {
        write_abx_log(log, h.when, blocker.fileName() + QStringLiteral("/abx"));
        ADD_FAILURE() << "no error";
    } catch (const EFileError& e) {
        EXPECT_TRUE(e.message().contains(blocker.fileName())) << e.what();
    }
    special_folder_lookups() = {};
}

// The log commits to the planned X's before the first answer and reveals
// them at the end: SHA-256 of the key's bytes followed by the sequence, as
// anyone can recompute it from the log, is the commitment, and the
// sequence is that of the trials' truths.
TEST_F(ScriptedTest, CommitmentIsRevealedAtTheEnd) {
    picks = {0, 1, 1, 0, 1};
    test.start(5);
    const QByteArray atStart = abx_log_text({}, test);
    for (int i = 0; i < 5; ++i) test.answer(i % 2);
    const QString log = QString::fromUtf8(abx_log_text({}, test));
    auto field = [&](const QString& name) {
        for (const QString& l : log.split(QLatin1Char('\n')))
            if (l.startsWith(name)) return l.mid(name.size()).toLatin1();
        return QByteArray();
    };
    const QByteArray commitment = field(QStringLiteral("Commitment (SHA-256 of the key and the X sequence): "));
    const QByteArray key = QByteArray::fromHex(field(QStringLiteral("Key: ")));
    const QByteArray sequence = field(QStringLiteral("X sequence: "));
    ASSERT_EQ(key.size(), 32);
    EXPECT_EQ(sequence, "ABBAB");
    EXPECT_EQ(QCryptographicHash::hash(key + sequence, QCryptographicHash::Sha256).toHex(), commitment);
    EXPECT_TRUE(atStart.contains("Commitment (SHA-256 of the key and the X sequence): " + commitment + "\n"))
        << "the same commitment before the first answer";
    for (int i = 0; i < 5; ++i) EXPECT_EQ(test.trials()[size_t(i)].truth, sequence[i] == 'B' ? 1 : 0);
    EXPECT_FALSE(log.contains(QStringLiteral("Score shown")));
    // Two tests never share a key.
    const QByteArray first = test.key();
    test.start(5);
    EXPECT_NE(test.key(), first);
}

// A score shown before the last answer is marked in the log; shown before
// any answer or after the end, it tells nothing and is not.
TEST_F(ScriptedTest, ScoreShownDuringTheTestIsMarked) {
    test.start(3);
    test.note_score_shown();
    EXPECT_FALSE(test.score_shown());
    test.answer(0);
    test.note_score_shown();
    EXPECT_TRUE(test.score_shown());
    test.answer(0);
    test.answer(0);
    EXPECT_TRUE(abx_log_text({}, test).contains("\nScore shown during the test\n"));
    test.start(1);
    test.answer(0);
    test.note_score_shown();
    EXPECT_FALSE(test.score_shown());
}

// The 95 % interval is the exact Clopper–Pearson one (published figures:
// 12/16 gives 0.4762 to 0.9273, 16/16 gives 0.7941 to 1, 0/10 gives 0 to
// 0.3085), and the log prints it.
TEST(AbxTest, ConfidenceIntervalIsClopperPearson) {
    struct Case {
        int n, k;
        double lo, hi;
    };
    const Case cases[] = {{16, 12, 0.4762, 0.9273}, {16, 16, 0.7941, 1.0}, {10, 0, 0.0, 0.3085}, {0, 0, 0.0, 1.0}};
    for (const Case& c : cases) {
        const auto [lo, hi] = TAbxTest::confidence_interval(c.n, c.k);
        EXPECT_NEAR(lo, c.lo, 5e-5) << c.k << "/" << c.n;
        EXPECT_NEAR(hi, c.hi, 5e-5) << c.k << "/" << c.n;
    }
    std::deque<int> picks(16, 1);
    TAbxTest t([&] { return 1; });
    t.start(16);
    for (int i = 0; i < 16; ++i) t.answer(i < 12 ? 1 : 0);
    EXPECT_TRUE(abx_log_text({}, t).contains("\n95 % confidence interval of the hit rate: 0.4762 to 0.9273\n"));
}

// The hash is made from the file as it was read: a file that another one
// replaces afterwards, or a named pipe put in its place, is not what the
// facts describe, and a pipe never blocks the reader.
TEST(AbxFileFacts, AreThoseOfTheBytesReadNotOfThePathLater) {
    auto dir = test::build_temp_dir();
    const QString path = dir->filePath(QStringLiteral("a.wav")), other = dir->filePath(QStringLiteral("b.wav"));
    write_bytes(path, QByteArray(5000, 'a'));
    write_bytes(other, QByteArray(6000, 'b'));
    const QByteArray original = sha256sum(path);
    TAbxFileFacts facts = abx_file_facts(path);
    ASSERT_EQ(facts.sha256, original);
    abx_confirm_file_facts(facts, path);
    EXPECT_EQ(facts.sha256, original) << "the path still names the file read";

    // Replaced after the read: the facts are cleared, not made anew.
    ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
    abx_confirm_file_facts(facts, path);
    EXPECT_EQ(facts.size, -1);
    EXPECT_TRUE(facts.sha256.isEmpty());
    EXPECT_EQ(facts.error, QStringLiteral("the file changed while it was loaded"));

    // A file loaded into the workspace keeps the facts of its loaded bytes,
    // whatever comes under its path later.
    ASSERT_TRUE(test::sox_write(path, QByteArray(8000, '\x11'), 44100, 2));
    const QByteArray loaded = sha256sum(path);
    TWorkspace ws;
    ws.load_file(0, path);
    ASSERT_TRUE(test::sox_write(other, QByteArray(8000, '\x22'), 44100, 2));
    ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
    EXPECT_EQ(ws.file_facts(0).sha256, loaded);
    EXPECT_NE(sha256sum(path), loaded);

    // A named pipe under the path: refused at once.
    QFile::remove(path);
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    const TAbxFileFacts pipe = abx_file_facts(path);
    EXPECT_EQ(pipe.size, -1);
    EXPECT_EQ(pipe.error, QStringLiteral("not a regular file"));
}

}  // namespace
}  // namespace wavrell

#include "common/errors.h"
#include "common/number_text.h"

#include <QCoreApplication>
#include <QLocale>
#include <QProcess>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <set>
#include <string>

namespace wavrell {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

std::string str(const QString& s) { return s.toStdString(); }

TEST(NumberText, GeneralFloatText) {
    struct Case {
        double x;
        const char* text;
    };
    const Case cases[] = {
        {0, "0"},
        {-0.0, "0"},
        {1e20, "1E20"},
        {1e15, "1E15"},
        {1.5e-7, "1.5E-7"},
        {0.00001, "1E-5"},
        {0.0001, "0.0001"},
        {999999999999999.0, "999999999999999"},
        {9999999999999999.0, "1E16"},  // fixed/scientific judged after rounding to 15 digits
        {0.30000000000000004, "0.3"},
        {1.0 / 3, "0.333333333333333"},
        {-2.5, "-2.5"},
        {1500, "1500"},
        {123.456, "123.456"},
        {-1.25e-300, "-1.25E-300"},
        {inf, "INF"},
        {-inf, "-INF"},
        {nan, "NAN"},
    };
    for (const Case& c : cases) EXPECT_EQ(str(general_float_text(c.x, QLatin1Char('.'))), c.text) << c.x;
    EXPECT_EQ(str(general_float_text(1.5, QLatin1Char(','))), "1,5");
    EXPECT_EQ(str(general_float_text(-1.5e-7, QLatin1Char(','))), "-1,5E-7");
    EXPECT_EQ(general_float_text(0.25), general_float_text(0.25, decimal_separator()));
}

TEST(NumberText, PatternFloatText) {
    struct Case {
        const char* pattern;
        double x;
        const char* text;
    };
    const Case cases[] = {
        {"0.00E-0", 1234, "1.23E3"},
        {"0.00E-0", 0.0125, "1.25E-2"},
        {"0.00E-0", -1234, "-1.23E3"},
        {"0.00E-0", 0, "0.00E0"},
        {"0.00E-0", 9.999, "1.00E1"},  // rounding carries into the exponent
        {"0.000E-0", 1.5, "1.500E0"},  // trailing zeros stay
        {"0E-0", 23.7, "2E1"},
        {"0.0E+00", 1234, "1.2E+03"},
        {"0.0E-00", 0.00012, "1.2E-04"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(str(pattern_float_text(QLatin1String(c.pattern), c.x, QLatin1Char('.'))), c.text) << c.pattern << " " << c.x;
    EXPECT_EQ(str(pattern_float_text(QStringLiteral("0.00E-0"), 0.0125, QLatin1Char(','))), "1,25E-2");
    for (const char* bad : {"", "#,##0.00", "0.00", "00.0E-0", "0.00E0", "0.00E-", "0.00E-0x"})
        EXPECT_THROW(pattern_float_text(QLatin1String(bad), 1.0, QLatin1Char('.')), EConvertError) << bad;
}

TEST(NumberText, TextToFloatReadsNumbersWithTheGivenSeparator) {
    struct Case {
        const char* text;
        char separator;
        double value;
    };
    const Case cases[] = {
        {"1.5", '.', 1.5},       {"1,5", ',', 1.5},    {" -2.5E-3 ", '.', -2.5e-3}, {"+7", '.', 7},
        {".5", '.', 0.5},        {"5.", '.', 5},       {"1e3", '.', 1000},          {"1.25E+2", '.', 125},
        {"1e-400", '.', 0},      {"0.1", '.', 0.1},    {"123456789012345678", '.', 123456789012345678.0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(text_to_float(QLatin1String(c.text), QLatin1Char(c.separator)), c.value) << c.text;

    const Case bad[] = {
        {"", '.', 0},    {"abc", '.', 0},  {"1.5", ',', 0},  {"1,5", '.', 0},   {"1e", '.', 0},
        {"e5", '.', 0},  {"-", '.', 0},    {"0x10", '.', 0}, {"inf", '.', 0},   {"nan", '.', 0},
        {"1.5.2", '.', 0}, {"1 5", '.', 0}, {"1e400", '.', 0}, {"1.5x", '.', 0}, {".", '.', 0},
    };
    for (const Case& c : bad)
        EXPECT_THROW(text_to_float(QLatin1String(c.text), QLatin1Char(c.separator)), EConvertError) << c.text;
    try {
        text_to_float(QStringLiteral("abc"), QLatin1Char('.'));
    } catch (const EConvertError& e) {
        EXPECT_EQ(str(e.message()), "'abc' is not a valid floating point value");
    }
}

TEST(NumberText, TextDotToFloat) {
    const std::string c_numeric = std::setlocale(LC_NUMERIC, nullptr);
    const QString point = QLocale::system().decimalPoint();
    EXPECT_EQ(text_dot_to_float(QStringLiteral("1.5")), 1.5);
    EXPECT_EQ(text_dot_to_float(QStringLiteral("0.2")), 0.2);
    try {
        text_dot_to_float(QString());
        ADD_FAILURE() << "empty text read as a number";
    } catch (const EConvertError& e) {
        EXPECT_EQ(str(e.message()), "Cannot convert empty string to number");
    }
    try {
        text_dot_to_float(QStringLiteral("1,5"));
        ADD_FAILURE() << "1,5 read with a dot separator";
    } catch (const EConvertError& e) {
        EXPECT_EQ(str(e.message()), "'1,5' is not a valid floating point value");
    }
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), c_numeric);
    EXPECT_EQ(QLocale::system().decimalPoint(), point);
}

TEST(NumberText, SignificantText) {
    struct Case {
        int n;
        double x;
        const char* text;
    };
    const Case cases[] = {
        {8, 1500, "1500"},
        {8, 1e-7, "1E-7"},
        {8, 0.30000000000000004, "0.3"},
        {8, 2.5e20, "2.5E20"},
        {8, 123456789, "123456790"},
        {8, 0, "0"},
        {8, -2.5, "-2.5"},
        {8, 1e15, "1E15"},
        {8, 0.001, "0.001"},
        {8, 12345678.9, "12345679"},
        {8, 1.23456789e-10, "1.2345679E-10"},
        {8, 0.1 + 0.2 - 0.3, "5.5511151E-17"},  // residue of a zero tick, kept as text here
        {2, 23.7, "24"},
        {1, 23.7, "20"},
        {0, 0.0047, "5E-3"},  // shorter than 0.005
    };
    for (const Case& c : cases) EXPECT_EQ(str(significant_text(c.n, c.x, QLatin1Char('.'))), c.text) << c.n << " " << c.x;
    EXPECT_EQ(str(significant_text(8, 2.5, QLatin1Char(','))), "2,5");
    EXPECT_EQ(str(significant_text(8, 2.5e-20, QLatin1Char(','))), "2,5E-20");
    EXPECT_EQ(str(significant_text(8, inf, QLatin1Char('.'))), "INF");
    EXPECT_EQ(str(significant_text(2, std::numeric_limits<double>::max(), QLatin1Char('.'))), "1.8E308");
}

TEST(NumberText, NiceStep) {
    struct Case {
        double x;
        double step;
    };
    const Case cases[] = {
        {0, 0},       {0.7, 0.5},     {73, 100},     {1.5, 2},   {0.1, 0.1},    {3, 2},
        {3.2, 5},     {1.4142, 1},    {1.4143, 2},   {7.07, 5},  {7.08, 10},    {199, 200},
        {6, 5},       {0.001, 0.001}, {0.01, 0.01},  {1, 1},     {10, 10},      {12345, 10000},
        {3.1e-9, 2e-9}, {4.2e250, 5e250},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(nice_step(c.x), c.step) << c.x;
    for (double bad : {-1.0, -1e-300, inf, nan}) EXPECT_THROW(nice_step(bad), EMathError) << bad;
}

TEST(NumberText, NoteNames) {
    struct Case {
        double n;
        const char* name;
    };
    const Case cases[] = {
        {69, "A4"},    {60, "C4"},   {59, "B3"},    {56, "Ab3"},  {69.4, "A4"},  {45, "A2"},
        {68.5, "Ab4"}, {69.5, "Bb4"}, {61, "C#4"},  {127, "G9"},  {0, "C-1"},    {-108, "C-10"},
        {-109, "B-11"},  // below -108: name and octave stay consistent
    };
    for (const Case& c : cases) EXPECT_EQ(str(note_name(c.n)), c.name) << c.n;
    EXPECT_THROW(note_name(3e9), ERangeError);
    EXPECT_THROW(note_name(nan), ERangeError);

    const struct {
        double f;
        const char* name;
    } freqs[] = {{0, "-"}, {-5, "-"}, {nan, "-"}, {261.63, "C4"}, {440, "A4"}, {27.5, "A0"}, {466.16, "Bb4"}};
    for (const auto& c : freqs) EXPECT_EQ(str(freq_to_note_name(c.f)), c.name) << c.f;

    EXPECT_DOUBLE_EQ(note_to_freq(69), 440);
    EXPECT_DOUBLE_EQ(note_to_freq(57), 220);
    EXPECT_NEAR(note_to_freq(60), 261.6255653005986, 1e-12);
    EXPECT_DOUBLE_EQ(freq_to_note(880), 81);
    EXPECT_NEAR(freq_to_note(note_to_freq(42.3)), 42.3, 1e-12);
    EXPECT_THROW(freq_to_note(0), EMathError);
    EXPECT_THROW(note_to_freq(1e6), EMathError);
}

TEST(NumberText, BlackKeysMatchNoteNames) {
    const std::set<QString> black{"C#", "Eb", "F#", "Ab", "Bb"};
    for (int n = -2; n <= 200; ++n) {
        QString name = note_name(n);
        while (name.back().isDigit() || name.back() == QLatin1Char('-')) name.chop(1);
        EXPECT_EQ(is_black_key(n), black.count(name) == 1) << n << " " << str(name);
    }
    // The remainder keeps the sign of the dividend, so below -2 it is never
    // 5 or more and every note counts as black (-3 is an A, -5 a G).
    for (int n = -3; n >= -30; --n) EXPECT_TRUE(is_black_key(n)) << n;
}

TEST(NumberText, CheckedIntegerConversions) {
    struct Case {
        double x;
        long long ceil, floor, round;  // 1LL << 40 marks a range error
    };
    constexpr long long err = 1LL << 40;
    const Case cases[] = {
        {2.5, 3, 2, 2},
        {3.5, 4, 3, 4},
        {-2.5, -2, -3, -2},
        {-0.4, 0, -1, 0},
        {2147483647.0, 2147483647, 2147483647, 2147483647},
        {2147483647.5, err, 2147483647, err},
        {2147483646.5, 2147483647, 2147483646, 2147483646},
        {-2147483648.0, -2147483648LL, -2147483648LL, -2147483648LL},
        {-2147483648.5, -2147483648LL, err, -2147483648LL},
        {1e10, err, err, err},
        {inf, err, err, err},
        {nan, err, err, err},
    };
    auto check = [&](auto fn, double x, long long expected, const char* what) {
        if (expected == err)
            EXPECT_THROW(fn(x), ERangeError) << what << " " << x;
        else
            EXPECT_EQ(fn(x), expected) << what << " " << x;
    };
    for (const Case& c : cases) {
        check(ceil_int, c.x, c.ceil, "ceil");
        check(floor_int, c.x, c.floor, "floor");
        check(round_int, c.x, c.round, "round");
    }
}

TEST(NumberText, PowersLogarithmsTangent) {
    EXPECT_DOUBLE_EQ(power10(2), 100);
    EXPECT_EQ(power10(-1), 0.1);
    EXPECT_EQ(power10(0), 1);
    EXPECT_DOUBLE_EQ(power2(10), 1024);
    EXPECT_DOUBLE_EQ(power2(-0.5), std::sqrt(0.5));
    EXPECT_EQ(power10(-400), 0);
    EXPECT_THROW(power10(400), EMathError);
    EXPECT_THROW(power2(nan), EMathError);
    EXPECT_DOUBLE_EQ(log10_checked(1000), 3);
    EXPECT_DOUBLE_EQ(log2_checked(8), 3);
    for (double bad : {0.0, -1.0, nan}) {
        EXPECT_THROW(log10_checked(bad), EMathError) << bad;
        EXPECT_THROW(log2_checked(bad), EMathError) << bad;
    }
    EXPECT_NEAR(tangent(M_PI / 4), 1, 1e-15);
    EXPECT_NEAR(tangent(-M_PI / 3), -std::sqrt(3.0), 1e-14);
    EXPECT_THROW(tangent(inf), EMathError);
}

TEST(NumberText, DitheredSamplesStayInRange) {
    seed_dither(1);
    std::set<int> high, low;
    for (int i = 0; i < 2000; ++i) {
        high.insert(float_to_sample16(40000));
        low.insert(float_to_sample16(-40000));
    }
    EXPECT_EQ(high, (std::set<int>{32765, 32766, 32767}));
    EXPECT_EQ(low, (std::set<int>{-32768, -32767, -32766}));
    for (double x : {inf, -inf, nan, 1e300, -1e300, 32766.9999, -32767.5, 32767.0, -32768.0}) {
        for (int i = 0; i < 2000; ++i) {
            const int s = float_to_sample16(x);
            ASSERT_GE(s, -32768) << x;
            ASSERT_LE(s, 32767) << x;
        }
    }
}

TEST(NumberText, DitherIsTriangularOfOneStep) {
    seed_dither(12345);
    const int n = 400000;
    // For 0.3: 1 when r1 - r2 > 0.2 (probability 0.32), -1 when it is below
    // -0.8 (0.02), else 0; the mean is 0.3.
    int count[3] = {0, 0, 0};
    double sum = 0;
    for (int i = 0; i < n; ++i) {
        const int s = float_to_sample16(0.3);
        ASSERT_TRUE(s >= -1 && s <= 1) << s;
        ++count[s + 1];
        sum += s;
    }
    // Standard error of the mean is about 0.0009; of the shares below 0.0008.
    EXPECT_NEAR(sum / n, 0.3, 0.005);
    EXPECT_NEAR(double(count[2]) / n, 0.32, 0.005);
    EXPECT_NEAR(double(count[0]) / n, 0.02, 0.002);

    seed_dither(7);
    std::vector<int> a, b;
    for (int i = 0; i < 100; ++i) a.push_back(float_to_sample16(1000.5));
    seed_dither(7);
    for (int i = 0; i < 100; ++i) b.push_back(float_to_sample16(1000.5));
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::set<int>(a.begin(), a.end()), (std::set<int>{1000, 1001}));

    // Any conversion of a seeded run can be taken alone, out of order.
    const double values[] = {1000.5, 0.3, -12.25, 40000, nan};
    seed_dither(99);
    std::vector<int> seq;
    for (int i = 0; i < 500; ++i) seq.push_back(float_to_sample16(values[i % 5]));
    for (int i = 499; i >= 0; --i) ASSERT_EQ(float_to_sample16_at(values[i % 5], 99, uint64_t(i)), seq[size_t(i)]) << i;
}

TEST(NumberText, LowerText) {
    EXPECT_EQ(lower_text(QStringLiteral("/Music/ÄBC Ölmühle.WAV")), QStringLiteral("/music/äbc ölmühle.wav"));
}

// Runs in a child process under a German locale (see UserLocaleGivesTheSeparator).
TEST(NumberTextGermanChild, ConversionsFollowTheLocale) {
    if (qgetenv("WAVRELL_LOCALE_CHILD") != "1") GTEST_SKIP() << "runs inside UserLocaleGivesTheSeparator";
    ASSERT_EQ(decimal_separator(), QLatin1Char(','));
    EXPECT_EQ(str(general_float_text(1.5)), "1,5");
    EXPECT_EQ(str(pattern_float_text(QStringLiteral("0.00E-0"), 0.0125)), "1,25E-2");
    EXPECT_EQ(str(significant_text(8, -2.5)), "-2,5");
    EXPECT_EQ(str(significant_text(8, 123456789)), "123456790");
    EXPECT_EQ(text_to_float(QStringLiteral("1,5")), 1.5);
    EXPECT_THROW(text_to_float(QStringLiteral("1.5")), EConvertError);
    EXPECT_EQ(text_dot_to_float(QStringLiteral("1.5")), 1.5);
    EXPECT_THROW(text_dot_to_float(QStringLiteral("1,5")), EConvertError);
    EXPECT_EQ(decimal_separator(), QLatin1Char(','));
}

TEST(NumberText, UserLocaleGivesTheSeparator) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WAVRELL_LOCALE_CHILD"), QStringLiteral("1"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("de_DE.UTF-8"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("de_DE.UTF-8"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=NumberTextGermanChild.*")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QByteArray out = child.readAllStandardOutput() + child.readAllStandardError();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
}

}  // namespace
}  // namespace wavrell
